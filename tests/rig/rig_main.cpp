// main() for every test executable: binary stdout so that CTest reads test names without
// carriage returns, and crash dialogs off so that a crash fails fast instead of waiting.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

// GoogleTest passes every failure to OutputDebugStringA, which crashes the process under the
// emulated 32-bit Wine used here: route the import to a function that does nothing.
static void WINAPI IgnoreDebugString(LPCSTR) {}
extern "C" void(WINAPI* const outputDebugStringImport)(LPCSTR) __asm__("__imp__OutputDebugStringA@4");
extern "C" void(WINAPI* const outputDebugStringImport)(LPCSTR) = IgnoreDebugString;

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    // A case registered for one ANSI code page must really run under it (tests/CMakeLists.txt
    // chooses the page through the Unix locale).
    char wantedPage[16] = "";
    DWORD wantedLength = GetEnvironmentVariableA("ORVL_CODE_PAGE", wantedPage, sizeof(wantedPage));
    if (wantedLength > 0 && wantedLength < sizeof(wantedPage)
        && GetACP() != static_cast<UINT>(std::atoi(wantedPage))) {
        std::fprintf(stdout, "ANSI code page is %u, the case wants %s\n", GetACP(), wantedPage);
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    // A case registered for one DPI (ORVL_DPIS) must run at it, seen as Windows XP shows it to
    // Messenger: Wine 10, like Windows 8, shows a process that declares nothing 96 DPI, so the
    // process declares itself DPI-aware before any window.
    char wantedDpi[16] = "";
    DWORD dpiLength = GetEnvironmentVariableA("ORVL_DPI", wantedDpi, sizeof(wantedDpi));
    if (dpiLength > 0 && dpiLength < sizeof(wantedDpi)) {
        auto declare = reinterpret_cast<BOOL(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware")));
        HDC screen = (declare && declare()) ? GetDC(nullptr) : nullptr;
        int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen)
            ReleaseDC(nullptr, screen);
        if (dpi != std::atoi(wantedDpi)) {
            std::fprintf(stdout, "the process sees %d DPI, the case wants %s\n", dpi, wantedDpi);
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 1);
        }
    }
    // A case registered for the common controls 6.0 (ORVL_COMMON_CONTROLS) runs in the copy of its
    // program that has their manifest, and gets the side-by-side comctl32 under winsxs; every other
    // case gets the system's. Wine's 6.0 copy says 5.81 of itself, so the path tells them apart.
    InitCommonControls();
    wchar_t controls[MAX_PATH] = L"";
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), controls, MAX_PATH);
    const bool sideBySide = std::wcsstr(CharLowerW(controls), L"\\winsxs\\") != nullptr;
    char wantedControls[4] = "";
    GetEnvironmentVariableA("ORVL_COMMON_CONTROLS_VERSION", wantedControls, sizeof(wantedControls));
    if (sideBySide != (std::atoi(wantedControls) == 6)) {
        std::fprintf(stdout, "comctl32 is %ls, the case wants the common controls %s\n", controls,
                     sideBySide ? "5" : "6.0");
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    int result = RUN_ALL_TESTS();
    // Wine checks a block's tail only when the heap is validated: do it for every heap of the
    // process, so that an overrun anywhere in the run is reported ("err:heap:" on stderr).
    HANDLE heaps[64];
    DWORD heapCount = GetProcessHeaps(64, heaps);
    DWORD validationStart = GetTickCount();
    for (DWORD i = 0; i < heapCount && i < 64; ++i) {
        if (!HeapValidate(heaps[i], 0, nullptr)) {
            std::fprintf(stdout, "heap %p is damaged\n", heaps[i]);
            result = 1;
        }
    }
    if (GetEnvironmentVariableA("ORVL_RIG_TRACE", nullptr, 0))
        std::fprintf(stderr, "[rig] %lu heaps validated in %lu ms\n", heapCount, GetTickCount() - validationStart);
    // Leave without the process-exit path: under the emulated Wine a library's detach code can
    // stop at a breakpoint there and keep the process (and CTest) waiting. What was tested is
    // already reported.
    fflush(stdout);
    fflush(stderr);
#ifdef ORVL_COVERAGE
    // An instrumented module writes its counters when it is detached, which TerminateProcess skips.
    ExitProcess(static_cast<UINT>(result));
#else
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
#endif
    return result;
}
