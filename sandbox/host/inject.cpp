#include "sandbox/host/inject.h"

namespace sandbox {

namespace {

const char MessengerClass[] = "MSBLClass";
const char InjectedEventName[] = "Orvella Dll Injected";
const char ModuleName[] = "OrvlHook.dll";
const DWORD NudgeIntervalMs = 100;

// Handles what is queued for the calling thread, then sleeps until the next message, the event
// or at most waitMs.
void PumpAndWait(HANDLE event, DWORD waitMs)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DWORD count = event ? 1 : 0;
    MsgWaitForMultipleObjects(count, event ? &event : nullptr, FALSE, waitMs, QS_ALLINPUT);
}

// OrvlHook.dll in the folder of the running program.
bool ModuleBesideProgram(char (&path)[MAX_PATH])
{
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    int end = static_cast<int>(length);
    while (end > 0 && path[end - 1] != '\\' && path[end - 1] != '/')
        --end;
    if (end + lstrlenA(ModuleName) >= MAX_PATH)
        return false;
    lstrcpynA(path + end, ModuleName, MAX_PATH - end);
    return true;
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
    else if (!ModuleBesideProgram(path)) {
        result.outcome = InjectOutcome::NoModule;
        result.error = ERROR_FILENAME_EXCED_RANGE;
        return result;
    }

    // Not signalled until the module answers from inside Messenger.
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, InjectedEventName);
    if (!injected) {
        result.outcome = InjectOutcome::NoEvent;
        result.error = GetLastError();
        return result;
    }
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        result.outcome = InjectOutcome::NoModule;
        result.error = GetLastError();
        CloseHandle(injected);
        return result;
    }
    HOOKPROC hookProc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    if (!hookProc) {
        result.outcome = InjectOutcome::NoHookProc;
        result.error = GetLastError();
        FreeLibrary(module);
        CloseHandle(injected);
        return result;
    }
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, hookProc, module, result.messengerThread);
    if (!hook) {
        result.outcome = InjectOutcome::NoHook;
        result.error = GetLastError();
        FreeLibrary(module);
        CloseHandle(injected);
        return result;
    }

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
