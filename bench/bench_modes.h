// The benchmarks of orvl_bench.exe, one per mode (see bench_main.cpp).
#ifndef ORVL_BENCH_BENCH_MODES_H
#define ORVL_BENCH_BENCH_MODES_H

namespace bench {

// Per-message cost of the menu-trigger hook, ordinary and trigger messages (hook_bench.cpp).
int RunHookBenchmarks(int rounds, int count);

// Injection: the export's handshake in a fresh process, a replay of the calls it makes, and the
// host stand-in injecting into a Messenger process; each round starts fresh processes
// (inject_bench.cpp).
int RunInjectBenchmarks(int rounds);
int RunInjectInProcessChild(const char* dllName);
int RunInjectReplayChild();
// preload: DLL names separated by commas, loaded before the Messenger window is made.
int RunMessengerChild(const char* preload);

// The settings sheet with 100 MAPI profiles against bare property sheets (sheet_bench.cpp);
// logging: the MAPI stand-in logs every call to a file instead of being quiet.
int RunSheetBenchmarks(int rounds, bool logging);

// A fixed computation, timed (cpu_work.h); also built natively by scripts/bench.sh to compare.
int RunCpuProbe();

} // namespace bench

#endif
