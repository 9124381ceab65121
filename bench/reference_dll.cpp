// orvl_bench_reference.dll: the least a DLL must do to be injected the way the module is, built
// and linked the way OrvlHook.dll is (static runtime, stripped), importing only kernel32 and
// user32. This file mirrors the module's start-up on purpose: its one export (ordinal 1)
// answers the host's handshake, pins the DLL, hooks the thread with a pass-through hook, creates
// the marker event, appends an "Orvella" popup to Messenger's bar, redraws the bar and subclasses
// the window with a relay. The injection benchmark divides the module's time by this DLL's,
// measured in the same kind of Messenger process, so what the module imports and does beyond
// that minimum shows.
#include <windows.h>

namespace {

HINSTANCE self = nullptr;
HHOOK passThrough = nullptr;
WNDPROC messengerProcedure = nullptr;

LRESULT CALLBACK PassThrough(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(passThrough, code, wParam, lParam);
}

LRESULT CALLBACK Relay(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(messengerProcedure, window, message, wParam, lParam);
}

void InstallMenu()
{
    HWND messenger = FindWindowA("MSBLClass", nullptr);
    HMENU bar = messenger ? GetMenu(messenger) : nullptr;
    if (!bar)
        return;
    MENUITEMINFOA present = {};
    present.cbSize = sizeof(present);
    present.fMask = MIIM_TYPE;
    if (GetMenuItemInfoA(bar, 1101, FALSE, &present))
        return;
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 1101, L"Settings...");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"Orvella");
    DrawMenuBar(messenger);
    messengerProcedure = reinterpret_cast<WNDPROC>(GetWindowLongW(messenger, GWL_WNDPROC));
    SetWindowLongW(messenger, GWL_WNDPROC, reinterpret_cast<LONG>(Relay));
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

extern "C" __attribute__((dllexport)) LRESULT CALLBACK ReferenceHook(int code, WPARAM wParam, LPARAM lParam)
{
    HANDLE host = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Orvella Dll Injected");
    if (host) {
        SetEvent(host);
        CloseHandle(host);
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(self, path, sizeof(path));
        if (length && length < sizeof(path) && LoadLibraryA(path) && !passThrough) {
            passThrough = SetWindowsHookExA(WH_GETMESSAGE, PassThrough, nullptr, GetCurrentThreadId());
            CreateEventA(nullptr, TRUE, TRUE, "Orvella Hook Installed");
            InstallMenu();
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
