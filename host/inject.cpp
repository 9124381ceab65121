// The injection handshake with the add-in host and the hook that keeps the menu in place.
#include "host/module.h"
#include "about/help.h"

namespace {

const char HostInjectedEventName[] = "Orvella Dll Injected";
const char HookInstalledEventName[] = "Orvella Hook Installed";

const UINT MenuTriggerAppMessage = 0x8002;  // WM_APP + 2
const UINT MenuTriggerUserMessage = 0x0400; // WM_USER

// The host's side waits for its event; everything after that is ours to finish quietly.
void RunHandshake()
{
    HANDLE hostEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, HostInjectedEventName);
    if (!hostEvent)
        return;  // the normal case once the host has finished its handshake

    SetEvent(hostEvent);
    CloseHandle(hostEvent);

    // Pin the module: the host removes its hook right after the handshake. By the wide path: the
    // ANSI one of a folder the code page cannot spell has question marks and names no file.
    wchar_t path[521] = L"";
    const DWORD capacity = sizeof(path) / sizeof(path[0]);
    DWORD length = GetModuleFileNameW(ModuleInstance, path, capacity);
    if (length == 0 || length >= capacity)
        return;
    // cppcheck-suppress leakReturnValNotUsed ; the reference is kept on purpose, it is the pin
    if (!LoadLibraryW(path))
        return;

    if (!MenuTriggerHook) {
        MenuTriggerHook = SetWindowsHookExA(WH_GETMESSAGE, MenuTriggerHookProc, nullptr, GetCurrentThreadId());
        if (!MenuTriggerHook)
            return;
    }
    if (!HookInstalledEvent)
        HookInstalledEvent = CreateEventA(nullptr, TRUE, TRUE, HookInstalledEventName);

    InstallProductMenu(nullptr);
}

} // namespace

// The host's hook: runs the handshake, then passes the call on like any hook, so that other
// add-ins' hooks on Messenger's thread still see every message.
LRESULT CALLBACK fnOrvlHook(int code, WPARAM wParam, LPARAM lParam)
{
    RunHandshake();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MenuTriggerHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (message) {
        UINT number = LOWORD(message->message);
        if (number == MenuTriggerAppMessage || number == MenuTriggerUserMessage)
            InstallProductMenu(nullptr);
        // The help viewer runs on this thread, and Messenger's loop never offers it a key. Offered
        // here only as a key leaves the queue (a peek that leaves it there would offer it twice);
        // one the viewer takes is not dispatched, as a loop that pretranslates would skip it.
        else if (code == HC_ACTION && (wParam & PM_REMOVE) && message->message >= WM_KEYFIRST
                 && message->message <= WM_KEYLAST && HelpTakesMessage(message))
            message->message = WM_NULL;
    }
    return CallNextHookEx(MenuTriggerHook, code, wParam, lParam);
}
