// The stack canary's guard value and its failure path, the module's own.
//
// -fstack-protector-strong makes every function with an array or an address-taken local compare
// its frame's copy of __stack_chk_guard on return and call __stack_chk_fail on a mismatch. Left to
// the toolchain, both come from libssp, whose constructor seeds the guard through
// CryptAcquireContextA/CryptGenRandom while the module attaches: that loads rsaenh, crypt32 and
// bcrypt under the loader lock inside Messenger, and its failure path writes to stderr and calls
// abort(). Defining the symbols here keeps libssp's object out of the link.
//
// The guard is seeded by the DLL's entry point, before the runtime's start-up runs any function
// that holds a canary, from cheap per-process sources only (clock, counters, IDs, addresses): they
// load nothing on any Windows version. RtlGenRandom (advapi32!SystemFunction036) is left alone:
// from Windows 7 on it is a forwarder into cryptbase.dll, and resolving it would load that.
#include <windows.h>
#include <stdint.h>

#ifndef STATUS_STACK_BUFFER_OVERRUN
#define STATUS_STACK_BUFFER_OVERRUN ((DWORD)0xC0000409L)
#endif

// Not the value of any seeded guard (FreshGuard avoids it): functions that run before the entry
// point (the loader's TLS callbacks) still check consistently against it.
static const uintptr_t DefaultGuard = 0x2F7D31A6u;

extern "C" {

#ifdef ORVL_COVERAGE_BUILD
void __gcov_dump(void);  // libgcov's: writes the counters now
#endif

uintptr_t __stack_chk_guard = DefaultGuard;  // NOLINT(bugprone-reserved-identifier): the compiler's name

// A smashed frame: end the process at once, with the status the system reports for it, as
// Microsoft's runtime does. No output, no abort(): nothing more of the damaged process runs.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void)  // NOLINT(bugprone-reserved-identifier)
{
#ifdef ORVL_COVERAGE_BUILD
    // An instrumented build writes its counters at detach, which TerminateProcess skips.
    __gcov_dump();
#endif
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

// A checked string or memory call (_FORTIFY_SOURCE) that would overrun its buffer: the same end,
// by the same code. Defined here so that libssp's object, which holds it together with the
// guard, stays out.
__attribute__((noreturn, no_stack_protector, alias("__stack_chk_fail"))) void __chk_fail(void);  // NOLINT(bugprone-reserved-identifier)

// The MinGW runtime's DLL entry point: its start-up, constructors, then DllMain.
BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

}  // extern "C"

// A new guard value from what the process can read without loading anything.
static __attribute__((no_stack_protector)) uintptr_t FreshGuard(HANDLE instance)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uintptr_t value = now.dwLowDateTime ^ now.dwHighDateTime;
    value ^= counter.LowPart ^ (static_cast<uintptr_t>(counter.HighPart) << 13);
    value ^= GetCurrentProcessId() << 16;
    value ^= GetCurrentThreadId();
    value ^= static_cast<uintptr_t>(GetTickCount()) << 7;
    // Where the stack and the module lie (ASLR places both anew in every process).
    value ^= reinterpret_cast<uintptr_t>(&now) ^ (reinterpret_cast<uintptr_t>(instance) >> 4);
    // Keep the top half non-zero: a copy overrunning with a short string then cannot match it.
    if ((value & 0xFFFF0000u) == 0)
        value |= (value | 0x5A3Cu) << 16;
    if (value == DefaultGuard)
        ++value;
    return value;
}

// The DLL's entry point (linked with -e, see CMakeLists.txt). It holds no canary itself, and sets
// the guard before the runtime's start-up calls anything that does.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI OrvlDllEntry(HANDLE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        __stack_chk_guard = FreshGuard(instance);
    return DllMainCRTStartup(instance, reason, reserved);
}
