// The injection handshake with the add-in host and the hook that keeps the menu in place.
#include "host/module.h"

namespace {

const char HostInjectedEventName[] = "Orvella Dll Injected";
const char HookInstalledEventName[] = "Orvella Hook Installed";

const UINT MenuTriggerAppMessage = 0x8002;  // WM_APP + 2
const UINT MenuTriggerUserMessage = 0x0400; // WM_USER

// Messenger's main window while our router is its procedure; a repeated handshake must
// keep MessengerWindowProc then, or the router would have nowhere to pass messages.
bool RouterIsInstalled()
{
    HWND window = FindWindowA(MessengerWindowClass, nullptr);
    return window && MessengerWindowProc
        && reinterpret_cast<WNDPROC>(GetWindowLongA(window, GWL_WNDPROC)) == CommandRouterProc;
}

} // namespace

LRESULT CALLBACK fnOrvlHook(int, WPARAM, LPARAM)
{
    HANDLE hostEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, HostInjectedEventName);
    if (!hostEvent)
        return 0;  // the normal case once the host has finished its handshake

    if (!RouterIsInstalled())
        MessengerWindowProc = nullptr;
    SetEvent(hostEvent);
    CloseHandle(hostEvent);

    // Pin the module: the host removes its hook right after the handshake.
    char path[521] = "";
    DWORD length = GetModuleFileNameA(ModuleInstance, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return 0;
    // cppcheck-suppress leakReturnValNotUsed ; the reference is kept on purpose, it is the pin
    if (!LoadLibraryA(path))
        return 0;

    if (!MenuTriggerHook) {
        MenuTriggerHook = SetWindowsHookExA(WH_GETMESSAGE, MenuTriggerHookProc, nullptr, GetCurrentThreadId());
        if (!MenuTriggerHook)
            return 0;
    }
    if (!HookInstalledEvent)
        HookInstalledEvent = CreateEventA(nullptr, TRUE, TRUE, HookInstalledEventName);

    InstallProductMenu(nullptr);
    return 0;
}

LRESULT CALLBACK MenuTriggerHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (message) {
        UINT number = LOWORD(message->message);
        if (number == MenuTriggerAppMessage || number == MenuTriggerUserMessage)
            InstallProductMenu(nullptr);
    }
    return CallNextHookEx(MenuTriggerHook, code, wParam, lParam);
}
