// orvl_messenger.exe: the Messenger stand-in program. Shows the "MSBLClass" window and runs an
// ordinary message loop until the window is destroyed, so that the add-in host stand-in can hook
// its thread.
//   orvl_messenger.exe                           just the window
//   orvl_messenger.exe --tour <folder> [--brief] also the screenshot tour (see tour.h)
#include "sandbox/messenger/messenger_window.h"
#include "sandbox/messenger/tour.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    sandbox::TourOptions tour;
    bool touring = false;
    for (int i = 1; i < __argc; ++i) {
        if (std::strcmp(__argv[i], "--tour") == 0 && i + 1 < __argc) {
            tour.folder = __argv[++i];
            touring = true;
        } else if (std::strcmp(__argv[i], "--brief") == 0) {
            tour.brief = true;
        } else {
            return 2;  // no usage box: nobody may be there to close it
        }
    }

    HWND window = sandbox::CreateMessengerWindow();
    if (!window)
        return 1;
    sandbox::QuitWhenMessengerDestroyed(true);
    if (touring && !sandbox::StartTour(window, tour)) {
        DestroyWindow(window);
        return 1;
    }

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return touring ? sandbox::TourExitCode() : 0;
}
