// orvl_bench.exe: the module's benchmarks, run on demand by scripts/bench.sh (never by CTest).
//   orvl_bench.exe hooks [rounds] [messages]   the menu-trigger hook per message
//   orvl_bench.exe inject [rounds]             injection, in-process and cross-process
//   orvl_bench.exe sheet [rounds] [logging]    the settings sheet against bare ones
//   orvl_bench.exe cpu                         a fixed computation, for the emulation factor
// Results are "ROW|..." lines (see bench.h), details "INFO|..." lines, failures "ERROR|..." lines.
// "inject-inprocess [dll]", "inject-replay" and "messenger [dll,dll...|-]" are the processes
// that "inject" starts.
#include "bench/bench.h"
#include "bench/bench_modes.h"
#include "bench/cpu_work.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

int RunCpuProbe()
{
    std::vector<double> runs;
    volatile uint32_t sink = 0;
    for (int run = 0; run < 5; ++run) {
        LONGLONG start = Ticks();
        sink = sink + CpuWork(CpuWorkRepeats);
        runs.push_back(MicrosecondsSince(start));
    }
    std::printf("CPU|%.0f\n", Median(runs));
    return 0;
}

} // namespace bench

namespace {

int Argument(int argc, char** argv, int index, int fallback)
{
    if (index >= argc)
        return fallback;
    int value = std::atoi(argv[index]);
    return value > 0 ? value : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const char* mode = argc > 1 ? argv[1] : "";
    int result = 2;
    if (std::strcmp(mode, "hooks") == 0)
        result = bench::RunHookBenchmarks(Argument(argc, argv, 2, 15), Argument(argc, argv, 3, 500));
    else if (std::strcmp(mode, "inject") == 0)
        result = bench::RunInjectBenchmarks(Argument(argc, argv, 2, 5));
    else if (std::strcmp(mode, "sheet") == 0)
        result = bench::RunSheetBenchmarks(Argument(argc, argv, 2, 11), argc > 3 && std::strcmp(argv[3], "logging") == 0);
    else if (std::strcmp(mode, "cpu") == 0)
        result = bench::RunCpuProbe();
    else if (std::strcmp(mode, "inject-inprocess") == 0)
        result = bench::RunInjectInProcessChild(argc > 2 ? argv[2] : bench::ModuleFileName);
    else if (std::strcmp(mode, "inject-replay") == 0)
        result = bench::RunInjectReplayChild();
    else if (std::strcmp(mode, "messenger") == 0)
        result = bench::RunMessengerChild(argc > 2 && std::strcmp(argv[2], "-") != 0 ? argv[2] : "");
    else
        std::fprintf(stderr, "usage: orvl_bench.exe hooks|inject|sheet|cpu [rounds] [messages]\n");
    bench::Exit(result);
}
