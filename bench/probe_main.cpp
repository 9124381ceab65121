// orvl_bench_probe.exe: what the injection's Win32 calls and a hooked message cost in Wine,
// without the module running: the export's calls made by this program (wine_calls.h), loading
// the common controls and the shell, and GetMessageA with and without an empty WH_GETMESSAGE hook.
// CMake builds it for i686 (the emulated 32-bit Wine); scripts/bench.sh also builds it for x86-64
// and runs that in a 64-bit prefix, where Wine runs without the emulator. Comparing the two tells
// how much the emulation costs these very calls. One process measures once (the first-time costs
// are part of it): scripts/bench.sh runs several and takes medians.
// Output: "PROBE|<key>|<microseconds>" lines.
#include "bench/bench.h"
#include "bench/wine_calls.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>

namespace {

using namespace bench;

void Put(const char* key, double us)
{
    std::printf("PROBE|%s|%.1f\n", key, us);
}

LRESULT CALLBACK PassThroughHook(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Posts `count` thread messages to this thread and times their retrieval; microseconds each.
double RetrieveStream(int count)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    DWORD self = GetCurrentThreadId();
    for (int i = 0; i < count; ++i)
        PostThreadMessageA(self, WM_APP + 1 + (i % 4), static_cast<WPARAM>(i), 0);
    LONGLONG start = Ticks();
    for (int i = 0; i < count; ++i)
        GetMessageA(&message, nullptr, 0, 0);
    return MicrosecondsSince(start) / count;
}

int Probe()
{
    HWND messenger = CreateMessenger();
    if (!messenger)
        return 1;
    Pump(300);

    // Libraries that the module imports and that a Messenger process may not have yet.
    const char* const libraries[][2] = {{"comctl32.dll", "load_comctl32"}, {"shell32.dll", "load_shell32"}};
    for (const auto& library : libraries) {
        LONGLONG start = Ticks();
        HMODULE loaded = LoadLibraryA(library[0]);
        if (loaded)
            Put(library[1], MicrosecondsSince(start));
    }

    // The export's calls, the first time in this process, then again on a second window.
    HMODULE resources = LoadLibraryExA(PathBesideProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HMODULE pin = GetModuleHandleA("user32.dll");
    HANDLE host1 = CreateEventA(nullptr, TRUE, FALSE, "OrvlBench Probe Host 1");
    HANDLE host2 = CreateEventA(nullptr, TRUE, FALSE, "OrvlBench Probe Host 2");
    if (!resources || !host1 || !host2)
        return 1;
    double cold[StepCount] = {}, warm[StepCount] = {};
    if (!ReplayExportCalls(messenger, resources, pin, "OrvlBench Probe Host 1", "OrvlBench Probe Marker 1", cold))
        return 1;
    Pump(300);
    HWND second = CreateMessenger();
    Pump(300);
    if (!second
        || !ReplayExportCalls(second, resources, pin, "OrvlBench Probe Host 2", "OrvlBench Probe Marker 2", warm))
        return 1;
    double coldTotal = 0, warmTotal = 0;
    for (int s = 0; s < StepCount; ++s) {
        Put(Format("first_%s", StepKeys[s]).c_str(), cold[s]);
        coldTotal += cold[s];
        warmTotal += warm[s];
    }
    Put("export_calls_first", coldTotal);
    Put("export_calls_again", warmTotal);
    Pump(300);
    double drawn = 0, changed = 0, painted = 0;
    MeasureFrameChange(second, 5, drawn, changed, painted);
    Put("draw_menu_bar_again", drawn);
    Put("frame_changed", changed);
    Put("frame_painted", painted);

    // Per message on this user-interface thread, without and with an empty hook, in alternating
    // rounds; FindWindowA in the same rounds.
    const int rounds = 9, count = 300;
    std::vector<double> none, empty, find;
    RetrieveStream(count);
    for (int round = 0; round < rounds; ++round) {
        for (int half = 0; half < 2; ++half) {
            bool hooked = (round + half) % 2 == 1;
            HHOOK hook = hooked ? SetWindowsHookExA(WH_GETMESSAGE, PassThroughHook, nullptr, GetCurrentThreadId())
                                : nullptr;
            (hooked ? empty : none).push_back(RetrieveStream(count));
            if (hook)
                UnhookWindowsHookEx(hook);
        }
        LONGLONG start = Ticks();
        for (int i = 0; i < count; ++i)
            FindWindowA("MSBLClass", nullptr);
        find.push_back(MicrosecondsSince(start) / count);
    }
    Put("get_message_no_hook", Median(none));
    Put("get_message_empty_hook", Median(empty));
    Put("find_window", Median(find));
    CloseHandle(host1);
    CloseHandle(host2);
    return 0;
}

} // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    int result = Probe();
    bench::Exit(result);
}
