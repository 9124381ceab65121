// A DLL linked like OrvlHook.dll, small enough to build in variants that each lack one thing the
// binary audit checks (tests/CMakeLists.txt): without stack canaries, with a second export, with
// an SEH handler of its own, with debug information, with coverage counters.
#include <windows.h>

// An array on the stack filled from the caller: -fstack-protector-strong puts a canary here.
extern "C" __declspec(dllexport) int WINAPI ProbeCopy(const char *text)
{
    char copy[64];
    lstrcpynA(copy, text ? text : "", sizeof copy);
    return lstrlenA(copy);
}

#ifdef PROBE_SECOND_EXPORT
extern "C" __declspec(dllexport) int WINAPI ProbeSecond(void)
{
    return 2;
}
#endif

#ifdef PROBE_SEH_HANDLER
// Puts a handler on the head of the thread's SEH chain (fs:0) and takes it off again: what an
// image marked NO_SEH must never do, since the system would then refuse to call the handler.
static EXCEPTION_DISPOSITION __cdecl ProbeHandler(EXCEPTION_RECORD *, void *, CONTEXT *, void *)
{
    return ExceptionContinueSearch;
}

static int ProbeGuarded()
{
    void *handler = reinterpret_cast<void *>(&ProbeHandler);
    asm volatile("pushl %0\n\t"
                 "pushl %%fs:0\n\t"
                 "movl %%esp, %%fs:0\n\t"
                 "movl (%%esp), %%eax\n\t"
                 "movl %%eax, %%fs:0\n\t"
                 "addl $8, %%esp"
                 :
                 : "r"(handler)
                 : "eax", "memory");
    return 1;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
#ifdef PROBE_SEH_HANDLER
    return ProbeGuarded();
#else
    return TRUE;
#endif
}
