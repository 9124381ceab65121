// The workload of cpu_work.h on the machine itself, without Wine or the emulator. Built and run
// by scripts/bench.sh when a native C++ compiler is there. Prints the median of 5 runs.
#include "cpu_work.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    std::vector<double> runs;
    volatile uint32_t sink = 0;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        sink = sink + bench::CpuWork(bench::CpuWorkRepeats);
        auto elapsed = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start);
        runs.push_back(elapsed.count());
    }
    std::sort(runs.begin(), runs.end());
    std::printf("%.0f\n", runs[runs.size() / 2]);
    return 0;
}
