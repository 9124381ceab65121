// Helpers shared by the benchmarks: a clock that every process of one Wine session shares,
// medians, the result lines that scripts/bench.sh turns into a table, and the module's side of
// the set-up (loading OrvlHook.dll, the Messenger window, the host's handshake).
#ifndef ORVL_BENCH_BENCH_H
#define ORVL_BENCH_BENCH_H

#include <windows.h>

#include "sandbox/common/win32_helpers.h"

#include <string>
#include <vector>

namespace bench {

// ---- Time ----------------------------------------------------------------------------------
// QueryPerformanceCounter ticks. Wine's counter is the host's monotonic clock, the same in every
// process of the session, so ticks taken in two processes can be subtracted.
LONGLONG Ticks();
double Microseconds(LONGLONG ticks);
inline double MicrosecondsSince(LONGLONG start) { return Microseconds(Ticks() - start); }

double Median(std::vector<double> values);
double Minimum(const std::vector<double>& values);
double Maximum(const std::vector<double>& values);

// ---- Output --------------------------------------------------------------------------------
// printf-style text.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One row of the results table: "ROW|benchmark|measure|figure|goal|verdict". An empty goal
// and verdict mark a row given for context.
void Row(const std::string& benchmark, const std::string& measure, const std::string& figure,
         const std::string& goal = std::string(), const std::string& verdict = std::string());
// A line of detail for the log: "INFO|text".
void Info(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "met" when value <= limit, else by how much it is over.
std::string Judge(double value, double limit);

// Flushes the output and leaves without the process-exit path (it can hang under emulation).
[[noreturn]] void Exit(int code);

// ---- The module ----------------------------------------------------------------------------
using sandbox::EventExists;
using sandbox::HookInstalledEventName;
using sandbox::HostInjectedEventName;
using sandbox::ModuleFileName;
using sandbox::Pump;
const char ReferenceFileName[] = "orvl_bench_reference.dll";

// A file in this program's folder: OrvlHook.dll by default.
std::string PathBesideProgram(const char* fileName = ModuleFileName);
// Chooses English in the module's settings (read when the module loads).
void ChooseEnglish();
// ChooseEnglish, then loads the module.
HMODULE LoadModule();
using HookProc = LRESULT(CALLBACK*)(int, WPARAM, LPARAM);
HookProc ExportedHook(HMODULE module);  // ordinal 1
// The host's side of the handshake on the calling thread.
using sandbox::HandshakeInProcess;

// ---- Messenger -----------------------------------------------------------------------------
// The Messenger stand-in window on the calling thread (first windows can fail while Wine's
// desktop starts: retried).
HWND CreateMessenger();
// Popups captioned "Orvella" in the window's menu bar.
int ProductPopups(HWND window);

} // namespace bench

#endif
