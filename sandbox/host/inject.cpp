#include "sandbox/host/inject.h"
#include "sandbox/common/win32_helpers.h"

namespace sandbox {

namespace {

const char MessengerClass[] = "MSBLClass";
const DWORD NudgeIntervalMs = 100;

// Handles what is queued for the calling thread, then sleeps until the next message, the event
// or at most waitMs.
void PumpAndWait(HANDLE event, DWORD waitMs)
{
    Pump(0);
    MsgWaitForMultipleObjects(event ? 1 : 0, event ? &event : nullptr, FALSE, waitMs, QS_ALLINPUT);
}

// What ends an injection early: the outcome, the error, the handles to give back.
InjectResult& Fail(InjectResult& result, InjectOutcome outcome, HMODULE module, HANDLE injected)
{
    result.outcome = outcome;
    result.error = GetLastError();
    if (module)
        FreeLibrary(module);
    if (injected)
        CloseHandle(injected);
    return result;
}

} // namespace

InjectResult InjectIntoMessenger(DWORD timeoutMs, const char* modulePath)
{
    InjectResult result;
    DWORD start = GetTickCount();

    while (!(result.messenger = FindWindowA(MessengerClass, nullptr))) {
        if (GetTickCount() - start >= timeoutMs) {
            result.outcome = InjectOutcome::NoMessenger;
            result.elapsedMs = GetTickCount() - start;
            return result;
        }
        PumpAndWait(nullptr, NudgeIntervalMs);
    }
    result.messengerThread = GetWindowThreadProcessId(result.messenger, nullptr);

    char path[MAX_PATH];
    if (modulePath)
        lstrcpynA(path, modulePath, MAX_PATH);
    else if (!FileBesideProgram(ModuleFileName, path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return Fail(result, InjectOutcome::NoModule, nullptr, nullptr);
    }

    // Not signalled until the module answers from inside Messenger.
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, HostInjectedEventName);
    if (!injected)
        return Fail(result, InjectOutcome::NoEvent, nullptr, nullptr);
    HMODULE module = LoadLibraryA(path);
    if (!module)
        return Fail(result, InjectOutcome::NoModule, nullptr, injected);
    HOOKPROC hookProc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    if (!hookProc)
        return Fail(result, InjectOutcome::NoHookProc, module, injected);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, hookProc, module, result.messengerThread);
    if (!hook)
        return Fail(result, InjectOutcome::NoHook, module, injected);

    // The hook runs when Messenger's thread next retrieves a message: give it one, again and
    // again, in case the first arrives before the hook is in place there.
    DWORD waitStart = GetTickCount();
    result.outcome = InjectOutcome::NoAnswer;
    for (;;) {
        if (WaitForSingleObject(injected, 0) == WAIT_OBJECT_0) {
            result.outcome = InjectOutcome::Injected;
            break;
        }
        if (GetTickCount() - waitStart >= timeoutMs)
            break;
        PostThreadMessageA(result.messengerThread, WM_NULL, 0, 0);
        PumpAndWait(injected, NudgeIntervalMs);
    }

    UnhookWindowsHookEx(hook);
    FreeLibrary(module);
    CloseHandle(injected);
    result.elapsedMs = GetTickCount() - start;
    return result;
}

const char* DescribeInjectOutcome(InjectOutcome outcome)
{
    switch (outcome) {
    case InjectOutcome::Injected: return "the module answered the handshake";
    case InjectOutcome::NoMessenger: return "no Messenger window (class MSBLClass) was found";
    case InjectOutcome::NoEvent: return "the handshake event could not be created";
    case InjectOutcome::NoModule: return "OrvlHook.dll could not be loaded";
    case InjectOutcome::NoHookProc: return "OrvlHook.dll has no export with ordinal 1";
    case InjectOutcome::NoHook: return "the hook could not be set on Messenger's thread";
    case InjectOutcome::NoAnswer: return "the module did not answer the handshake in time";
    }
    return "unknown outcome";
}

} // namespace sandbox
