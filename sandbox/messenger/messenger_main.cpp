// orvl_messenger.exe: the Messenger stand-in program. Shows the "MSBLClass" window and runs an
// ordinary message loop until the window is destroyed, so that the add-in host stand-in can hook
// its thread.
//   orvl_messenger.exe                           just the window
//   orvl_messenger.exe --tour <folder> [--brief] also the screenshot tour (see tour.h)
//   orvl_messenger.exe --until-menu <seconds>     closes itself once its menu bar has the
//                                                 "Orvella" popup: exit 0, or 3 if it has not
//                                                 appeared within <seconds>
// Only this process can read its menus under Wine, so it reports the menu itself.
#include "sandbox/messenger/messenger_window.h"
#include "sandbox/messenger/tour.h"

#include <objbase.h>

#include <cstdlib>
#include <cstring>

namespace {

const char ProductMenuCaption[] = "Orvella";
const UINT MenuCheckMs = 100;
const int NoMenuExitCode = 3;

HWND Messenger = nullptr;
DWORD MenuDeadline = 0;
int MenuExitCode = NoMenuExitCode;

void CALLBACK CheckMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    bool found = sandbox::HasMenuPopup(Messenger, ProductMenuCaption);
    if (!found && static_cast<LONG>(GetTickCount() - MenuDeadline) < 0)
        return;
    KillTimer(nullptr, timer);
    MenuExitCode = found ? 0 : NoMenuExitCode;
    DestroyWindow(Messenger);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    sandbox::TourOptions tour;
    bool touring = false;
    int menuSeconds = 0;
    for (int i = 1; i < __argc; ++i) {
        if (std::strcmp(__argv[i], "--tour") == 0 && i + 1 < __argc) {
            tour.folder = __argv[++i];
            touring = true;
        } else if (std::strcmp(__argv[i], "--until-menu") == 0 && i + 1 < __argc) {
            menuSeconds = std::atoi(__argv[++i]);
            if (menuSeconds <= 0)
                return 2;
        } else if (std::strcmp(__argv[i], "--brief") == 0) {
            tour.brief = true;
        } else {
            return 2;  // no usage box: nobody may be there to close it
        }
    }

    if (touring && menuSeconds)
        return 2;

    // Messenger is a COM program: its user-interface thread is a single-threaded apartment, through
    // which screen readers in other processes reach the objects of its windows.
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    HWND window = sandbox::CreateMessengerWindow();
    if (!window)
        return 1;
    Messenger = window;
    sandbox::QuitWhenMessengerDestroyed(true);
    if (touring && !sandbox::StartTour(window, tour)) {
        DestroyWindow(window);
        return 1;
    }
    if (menuSeconds) {
        MenuDeadline = GetTickCount() + static_cast<DWORD>(menuSeconds) * 1000;
        if (!SetTimer(nullptr, 0, MenuCheckMs, CheckMenu)) {
            DestroyWindow(window);
            return 1;
        }
    }

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (touring)
        return sandbox::TourExitCode();
    return menuSeconds ? MenuExitCode : 0;
}
