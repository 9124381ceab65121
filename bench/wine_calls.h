// The Win32 calls that the module's export makes on a first handshake, made by the benchmarks
// themselves, each timed: what the injection costs in Wine whoever makes the calls. Built into
// orvl_bench.exe and into the probe (probe_main.cpp), which scripts/bench.sh also builds for
// x86-64 to run in Wine without the emulator.
#ifndef ORVL_BENCH_WINE_CALLS_H
#define ORVL_BENCH_WINE_CALLS_H

#include <windows.h>

namespace bench {

enum ReplayStep {
    StepOpenHostEvent,
    StepRouterCheck,
    StepSignalHost,
    StepPinModule,
    StepSetHook,
    StepCreateMarker,
    StepMenuCheck,
    StepLoadMenu,
    StepAppendMenu,
    StepDrawMenuBar,
    StepSubclass,
    StepCount
};
extern const char* const StepNames[StepCount];
// Short names for machine-readable lines.
extern const char* const StepKeys[StepCount];

// On `window` (a Messenger-like window with a menu bar, on the calling thread): the export's
// calls in its order, the product menu loaded from `resources` (OrvlHook.dll, as a module or as
// a data file), `pin` loaded once more by its path. hostEventName must name an event that exists.
// Each step's microseconds go to `steps`. Returns whether every call succeeded.
bool ReplayExportCalls(HWND window, HMODULE resources, HMODULE pin, const char* hostEventName,
                       const char* markerName, double (&steps)[StepCount]);

// What DrawMenuBar consists of, on a window that already has its menu: medians over `repeats` of
// DrawMenuBar, of SetWindowPos(SWP_FRAMECHANGED) and of RedrawWindow(RDW_FRAME | RDW_UPDATENOW).
void MeasureFrameChange(HWND window, int repeats, double& drawMenuBarUs, double& frameChangedUs,
                        double& framePaintedUs);

} // namespace bench

#endif
