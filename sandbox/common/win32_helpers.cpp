#include "sandbox/common/win32_helpers.h"

namespace sandbox {

void Pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

namespace {

// Opens the named event for the length of `use`; false when there is none.
template <typename Use>
bool WithEvent(const char* name, Use use)
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (!event)
        return false;
    bool answer = use(event);
    CloseHandle(event);
    return answer;
}

} // namespace

bool EventExists(const char* name)
{
    return WithEvent(name, [](HANDLE) { return true; });
}

bool EventSignalled(const char* name)
{
    return WithEvent(name, [](HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; });
}

bool FileBesideProgram(const char* fileName, char (&path)[MAX_PATH])
{
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    int end = static_cast<int>(length);
    while (end > 0 && path[end - 1] != '\\' && path[end - 1] != '/')
        --end;
    if (end + lstrlenA(fileName) >= MAX_PATH)
        return false;
    lstrcpynA(path + end, fileName, MAX_PATH - end);
    return true;
}

bool HandshakeInProcess(HMODULE module)
{
    HOOKPROC hook = module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))))
                           : nullptr;
    if (!hook)
        return false;
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, HostInjectedEventName);
    if (!injected)
        return false;
    hook(0, 0, 0);
    bool signalled = WaitForSingleObject(injected, 0) == WAIT_OBJECT_0;
    CloseHandle(injected);
    return signalled;
}

} // namespace sandbox
