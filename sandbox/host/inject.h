// The add-in host's injection of OrvlHook.dll into Messenger: a WH_GETMESSAGE hook set on
// Messenger's user-interface thread makes Windows load the module there and call its export,
// which answers through the "Orvella Dll Injected" event.
#ifndef ORVL_SANDBOX_HOST_INJECT_H
#define ORVL_SANDBOX_HOST_INJECT_H

#include <windows.h>

namespace sandbox {

enum class InjectOutcome {
    Injected,        // the module signalled the handshake event
    NoMessenger,     // no "MSBLClass" window appeared in time
    NoEvent,         // the handshake event could not be created
    NoModule,        // LoadLibraryA failed
    NoHookProc,      // the module has no export with ordinal 1
    NoHook,          // SetWindowsHookExA failed
    NoAnswer,        // the event was not signalled in time
};

struct InjectResult {
    InjectOutcome outcome = InjectOutcome::NoMessenger;
    DWORD error = 0;             // GetLastError of the failing call, if any
    HWND messenger = nullptr;
    DWORD messengerThread = 0;
    DWORD elapsedMs = 0;
};

// Finds Messenger's window, hooks its thread with the module's ordinal-1 export and waits for the
// handshake; the hook is removed again before returning. Each of the two waits (for the window,
// for the answer) is bounded by timeoutMs. modulePath null: OrvlHook.dll beside this program.
// The calling thread's own messages are handled while waiting, so Messenger may run on it.
InjectResult InjectIntoMessenger(DWORD timeoutMs, const char* modulePath = nullptr);

const char* DescribeInjectOutcome(InjectOutcome outcome);

} // namespace sandbox

#endif
