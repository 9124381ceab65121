// Injection: from the host's hook call to "Orvella Hook Installed" existing with the menu in
// Messenger's bar. Every round starts fresh processes, for the module's start-up state:
//   in-process     a process creates the "MSBLClass" window, then loads the module (timed, for
//                  context); the export is called there as the host's hook call and timed; the
//                  same for orvl_bench_reference.dll (reference_dll.cpp), the least a DLL must
//                  do to be injected;
//   replay         a fresh process with the module loaded makes the export's Win32 calls itself,
//                  in its order, timed one by one (wine_calls.h), then again on a second window;
//                  before that it loads each DLL that the module imports on its own, then the
//                  reference DLL, then the module, each timed;
//   cross-process  a Messenger process (the stand-in window and message loop) and this process as
//                  the host, injecting with the host stand-in's code (sandbox/host); from the
//                  host's call to the Messenger process seeing the menu and the event after the
//                  message that carried the hook (the clock is shared by the processes of the
//                  Wine session). The module and the reference DLL each go into Messenger
//                  processes of four kinds: plain, and with the module's imports loaded already
//                  (comctl32 and shell32; mapi32; all three), so that the cost of each shows.
#include "bench/bench_modes.h"
#include "bench/bench.h"
#include "bench/wine_calls.h"
#include "res/resource.h"
#include "sandbox/common/loader_notifications.h"
#include "sandbox/host/inject.h"
#include "sandbox/messenger/messenger_window.h"

#include <cstdio>
#include <cstring>

namespace bench {

namespace {

const char SharedName[] = "OrvlBench Inject Shared";
const char MessengerReadyName[] = "OrvlBench Messenger Ready";
const char MessengerInstalledName[] = "OrvlBench Messenger Installed";

const int MaxImports = 24;
const int MaxLoads = 32;

struct Shared {
    // in-process child (the module or the reference DLL)
    int inProcessOk;
    double dllLoadUs;
    double exportUs;
    // replay child
    int replayOk;
    double coldSteps[StepCount];
    double warmSteps[StepCount];
    int importCount;
    char importNames[MaxImports][32];
    double importLoadUs[MaxImports];
    double moduleAfterImportsUs;
    double referenceLoadUs;  // the reference DLL, with the same imports loaded
    double drawMenuBarUs;    // again, later, on a window that has its menu already
    double frameChangedUs;   // SetWindowPos(SWP_FRAMECHANGED)
    double framePaintedUs;   // RedrawWindow(RDW_FRAME | RDW_UPDATENOW)
    // messenger child: the DLLs loaded into it, as the loader reported them, and when
    int loadCount;
    char loadNames[MaxLoads][32];
    LONGLONG loadedAt[MaxLoads];
    int messengerOk;
    DWORD messengerThread;
    LONGLONG installedSeenAt;
};

Shared* OpenShared(bool create)
{
    HANDLE mapping = create ? CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), SharedName)
                            : OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, SharedName);
    if (!mapping)
        return nullptr;
    return static_cast<Shared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)));
}

// Runs this program with `mode` and waits for it to end.
bool RunChild(const char* mode, DWORD timeoutMs, PROCESS_INFORMATION* keep = nullptr)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" " + mode;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (keep) {
        *keep = process;
        return true;
    }
    bool ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

// The DLLs that a PE file imports, read from the file.
std::vector<std::string> ImportedDlls(const std::string& path)
{
    std::vector<std::string> names;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return names;
    DWORD size = GetFileSize(file, nullptr);
    std::string data(size, '\0');
    DWORD read = 0;
    ReadFile(file, &data[0], size, &read, nullptr);
    CloseHandle(file);
    if (read != size || size < sizeof(IMAGE_DOS_HEADER))
        return names;
    const char* base = data.data();
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > size)
        return names;
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    auto offsetOf = [&](DWORD rva) -> DWORD {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            DWORD extent = sections[i].Misc.VirtualSize > sections[i].SizeOfRawData ? sections[i].Misc.VirtualSize
                                                                                     : sections[i].SizeOfRawData;
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + extent)
                return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
        }
        return 0;
    };
    DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    DWORD offset = offsetOf(importRva);
    if (!importRva || !offset)
        return names;
    for (const IMAGE_IMPORT_DESCRIPTOR* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + offset);
         reinterpret_cast<const char*>(entry + 1) <= base + size && entry->Name; ++entry) {
        DWORD nameOffset = offsetOf(entry->Name);
        if (nameOffset && nameOffset < size)
            names.push_back(std::string(base + nameOffset, strnlen(base + nameOffset, size - nameOffset)));
    }
    return names;
}

} // namespace

// ---- Children --------------------------------------------------------------------------------

namespace {

// A child's start: the shared record and the Messenger window, before anything is injected.
HWND StartChild(Shared*& shared)
{
    shared = OpenShared(false);
    HWND messenger = shared ? CreateMessenger() : nullptr;
    if (messenger)
        Pump(300);
    return messenger;
}

} // namespace

int RunInjectInProcessChild(const char* dllName)
{
    Shared* shared = nullptr;
    HWND messenger = StartChild(shared);
    if (!messenger)
        return 1;
    ChooseEnglish();
    LONGLONG start = Ticks();
    HMODULE dll = LoadLibraryA(PathBesideProgram(dllName).c_str());
    shared->dllLoadUs = MicrosecondsSince(start);
    if (!ExportedHook(dll))
        return 1;
    Pump(300);
    start = Ticks();
    bool answered = HandshakeInProcess(dll);
    shared->exportUs = MicrosecondsSince(start);
    shared->inProcessOk = answered && EventExists(HookInstalledEventName) && ProductPopups(messenger) == 1;
    return shared->inProcessOk ? 0 : 1;
}

int RunInjectReplayChild()
{
    Shared* shared = nullptr;
    HWND messenger = StartChild(shared);
    if (!messenger)
        return 1;
    // Each DLL that the module imports, loaded on its own in the module's order, then the module.
    std::vector<std::string> imports = ImportedDlls(PathBesideProgram());
    shared->importCount = 0;
    for (const std::string& name : imports) {
        if (shared->importCount >= MaxImports)
            break;
        LONGLONG start = Ticks();
        HMODULE loaded = LoadLibraryA(name.c_str());
        double us = MicrosecondsSince(start);
        int index = shared->importCount++;
        lstrcpynA(shared->importNames[index], name.c_str(), sizeof(shared->importNames[index]));
        shared->importLoadUs[index] = loaded ? us : -1.0;
    }
    // The least a DLL must do to be injected, linked like the module, for comparison.
    LONGLONG start = Ticks();
    shared->referenceLoadUs = LoadLibraryA(PathBesideProgram(ReferenceFileName).c_str()) ? MicrosecondsSince(start) : -1.0;
    ChooseEnglish();
    start = Ticks();
    HMODULE module = LoadLibraryA(PathBesideProgram().c_str());
    shared->moduleAfterImportsUs = MicrosecondsSince(start);
    if (!module)
        return 1;
    Pump(300);

    // Cold: the first time in this process, as for the export.
    HANDLE hostEvent = CreateEventA(nullptr, TRUE, FALSE, "OrvlBench Replay Host 1");
    bool cold = ReplayExportCalls(messenger, module, module, "OrvlBench Replay Host 1", "OrvlBench Replay Marker 1",
                                  shared->coldSteps);
    Pump(300);
    // Warm: once more, on a second Messenger window with its own menu bar.
    HWND second = CreateMessenger();
    Pump(300);
    HANDLE hostEvent2 = CreateEventA(nullptr, TRUE, FALSE, "OrvlBench Replay Host 2");
    bool warm = second && ReplayExportCalls(second, module, module, "OrvlBench Replay Host 2",
                                            "OrvlBench Replay Marker 2", shared->warmSteps);
    CloseHandle(hostEvent);
    CloseHandle(hostEvent2);
    Pump(300);

    // What DrawMenuBar consists of, on the second window.
    if (second)
        MeasureFrameChange(second, 5, shared->drawMenuBarUs, shared->frameChangedUs, shared->framePaintedUs);
    shared->replayOk = cold && warm;
    return shared->replayOk ? 0 : 1;
}

namespace {


// The loader's notifications: when each DLL arrived.
VOID CALLBACK NoteDllLoaded(ULONG reason, const sandbox::LoadedDll* data, PVOID context)
{
    LONGLONG now = Ticks();
    Shared* shared = static_cast<Shared*>(context);
    if (reason != sandbox::DllNotificationLoaded || !data || !data->baseName || shared->loadCount >= MaxLoads)
        return;
    int index = shared->loadCount++;
    shared->loadedAt[index] = now;
    sandbox::CopyBaseName(data, shared->loadNames[index], sizeof(shared->loadNames[index]));
}

} // namespace

int RunMessengerChild(const char* preload)
{
    // Optionally with some of the module's imports loaded already ("comctl32.dll,shell32.dll"),
    // as applications that use the common controls, the shell or MAPI have them.
    std::string names = preload ? preload : "";
    for (size_t begin = 0; begin < names.size();) {
        size_t end = names.find(',', begin);
        if (end == std::string::npos)
            end = names.size();
        if (end > begin && !LoadLibraryA(names.substr(begin, end - begin).c_str()))
            return 1;
        begin = end + 1;
    }
    Shared* shared = OpenShared(false);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, MessengerReadyName);
    HANDLE installed = OpenEventA(EVENT_MODIFY_STATE, FALSE, MessengerInstalledName);
    if (!shared || !ready || !installed)
        return 1;
    HWND window = CreateMessenger();
    if (!window)
        return 1;
    shared->messengerThread = GetCurrentThreadId();
    Pump(100);
    sandbox::RegisterDllNotification registerNotification = sandbox::LoaderNotifications();
    PVOID cookie = nullptr;
    if (registerNotification)
        registerNotification(0, NoteDllLoaded, shared, &cookie);
    SetEvent(ready);
    // Messenger's loop. The host's hook runs inside GetMessageA; when it returns, whatever the
    // module did in it is done.
    bool seen = false;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!seen && ProductPopups(window) == 1 && EventExists(HookInstalledEventName)) {
            shared->installedSeenAt = Ticks();
            shared->messengerOk = 1;
            seen = true;
            SetEvent(installed);
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// ---- The benchmark ---------------------------------------------------------------------------

namespace {

// The kinds of Messenger process injected into: what each has loaded before the injection.
struct MessengerKind {
    const char* label;
    const char* preload;  // for RunMessengerChild
};
const MessengerKind MessengerKinds[] = {
    {"as it stands", ""},
    {"comctl32 and shell32 already in Messenger", "comctl32.dll,shell32.dll"},
    {"MAPI32 already in Messenger", "mapi32.dll"},
    {"comctl32, shell32 and MAPI32 already in Messenger", "comctl32.dll,shell32.dll,mapi32.dll"},
};
const int MessengerKindCount = sizeof(MessengerKinds) / sizeof(MessengerKinds[0]);

// The two DLLs injected: the module and the reference (the least a DLL must do).
enum Injected { InjectModule, InjectReference, InjectedCount };

struct LoadEvent {
    std::string name;
    double at;  // microseconds after the host's call
};
std::vector<LoadEvent> timeline;  // of the last cross-process round

// Starts a Messenger process of the given kind, injects `dllPath` into it with the host
// stand-in's code and returns the microseconds from the call to Messenger seeing the menu and
// the event, or -1.
double CrossProcessRound(Shared& shared, HANDLE ready, HANDLE installed, const std::string& dllPath,
                         const MessengerKind& kind)
{
    ZeroMemory(&shared, sizeof(Shared));
    ResetEvent(ready);
    ResetEvent(installed);
    PROCESS_INFORMATION messenger = {};
    if (!RunChild((std::string("messenger ") + (*kind.preload ? kind.preload : "-")).c_str(), 0, &messenger))
        return -1.0;
    double us = -1.0;
    if (WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0) {
        Sleep(500);  // Messenger is idle in GetMessageA
        LONGLONG start = Ticks();
        sandbox::InjectResult result = sandbox::InjectIntoMessenger(20000, dllPath.c_str());
        if (result.outcome == sandbox::InjectOutcome::Injected && WaitForSingleObject(installed, 20000) == WAIT_OBJECT_0
            && shared.messengerOk && EventExists(HookInstalledEventName)) {
            us = Microseconds(shared.installedSeenAt - start);
            timeline.clear();
            for (int i = 0; i < shared.loadCount; ++i)
                timeline.push_back({shared.loadNames[i], Microseconds(shared.loadedAt[i] - start)});
        } else
            Info("inject: %s", sandbox::DescribeInjectOutcome(result.outcome));
    }
    if (shared.messengerThread)
        PostThreadMessageA(shared.messengerThread, WM_QUIT, 0, 0);
    if (WaitForSingleObject(messenger.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(messenger.hProcess, 99);
        WaitForSingleObject(messenger.hProcess, 10000);
    }
    CloseHandle(messenger.hThread);
    CloseHandle(messenger.hProcess);
    return us;
}

// Medians and ranges of one side of a comparison, and of the per-round ratios.
struct Compared {
    std::vector<double> us[InjectedCount];
    std::vector<double> ratios;  // module / reference, in rounds where both were measured
    void Add(double moduleUs, double referenceUs)
    {
        if (moduleUs >= 0)
            us[InjectModule].push_back(moduleUs);
        if (referenceUs >= 0)
            us[InjectReference].push_back(referenceUs);
        if (moduleUs >= 0 && referenceUs > 0)
            ratios.push_back(moduleUs / referenceUs);
    }
    std::string Figure(Injected which) const
    {
        const std::vector<double>& values = us[which];
        return Format("%.2f ms (%.2f..%.2f)", Median(values) / 1000.0, Minimum(values) / 1000.0,
                      Maximum(values) / 1000.0);
    }
    std::string Ratio() const
    {
        return Format("%.2f (rounds %.2f..%.2f)", Median(ratios), Minimum(ratios), Maximum(ratios));
    }
};

} // namespace

int RunInjectBenchmarks(int rounds)
{
    Shared* shared = OpenShared(true);
    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, MessengerReadyName);
    HANDLE installed = CreateEventA(nullptr, FALSE, FALSE, MessengerInstalledName);
    if (!shared || !ready || !installed) {
        std::printf("ERROR|no shared memory or events\n");
        return 1;
    }
    // The host has both DLLs loaded already: their own load in the host is not part of the
    // injection.
    const std::string dllPaths[InjectedCount] = {PathBesideProgram(), PathBesideProgram(ReferenceFileName)};
    const char* const dllNames[InjectedCount] = {ModuleFileName, ReferenceFileName};
    for (const std::string& path : dllPaths)
        if (!LoadLibraryA(path.c_str())) {
            std::printf("ERROR|%s did not load in the host\n", path.c_str());
            return 1;
        }

    Compared inProcess, cross[MessengerKindCount];
    std::vector<double> dllLoadUs[InjectedCount], moduleDllArrivedUs[MessengerKindCount];
    std::vector<double> coldSteps[StepCount], warmSteps[StepCount], coldTotal, warmTotal;
    std::vector<std::vector<double>> importUs;
    std::vector<std::string> importNames;
    std::vector<double> afterImportsUs, referenceUs, drawAgainUs, frameChangedUs, framePaintedUs;
    int failures = 0;

    for (int round = 0; round < rounds; ++round) {
        // The module and the reference in alternating order, so that a drift in load favours
        // neither.
        const Injected order[InjectedCount] = {round % 2 ? InjectReference : InjectModule,
                                               round % 2 ? InjectModule : InjectReference};
        // In-process.
        double exportUs[InjectedCount] = {-1, -1};
        for (Injected which : order) {
            ZeroMemory(shared, sizeof(Shared));
            if (RunChild((std::string("inject-inprocess ") + dllNames[which]).c_str(), 120000) && shared->inProcessOk) {
                exportUs[which] = shared->exportUs;
                dllLoadUs[which].push_back(shared->dllLoadUs);
            } else {
                ++failures;
                Info("inject round %d: the in-process child (%s) failed", round + 1, dllNames[which]);
            }
        }
        inProcess.Add(exportUs[InjectModule], exportUs[InjectReference]);
        Info("inject round %d: in-process export: module %.0f us, reference %.0f us", round + 1,
             exportUs[InjectModule], exportUs[InjectReference]);

        // Replay.
        ZeroMemory(shared, sizeof(Shared));
        if (RunChild("inject-replay", 120000) && shared->replayOk) {
            double cold = 0, warm = 0;
            for (int s = 0; s < StepCount; ++s) {
                coldSteps[s].push_back(shared->coldSteps[s]);
                warmSteps[s].push_back(shared->warmSteps[s]);
                cold += shared->coldSteps[s];
                warm += shared->warmSteps[s];
            }
            coldTotal.push_back(cold);
            warmTotal.push_back(warm);
            if (importNames.empty())
                for (int i = 0; i < shared->importCount; ++i)
                    importNames.push_back(shared->importNames[i]);
            importUs.resize(importNames.size());
            for (int i = 0; i < shared->importCount && i < static_cast<int>(importNames.size()); ++i)
                importUs[i].push_back(shared->importLoadUs[i]);
            afterImportsUs.push_back(shared->moduleAfterImportsUs);
            referenceUs.push_back(shared->referenceLoadUs);
            drawAgainUs.push_back(shared->drawMenuBarUs);
            frameChangedUs.push_back(shared->frameChangedUs);
            framePaintedUs.push_back(shared->framePaintedUs);
            Info("inject round %d: replay cold %.0f us, warm %.0f us", round + 1, cold, warm);
        } else {
            ++failures;
            Info("inject round %d: the replay child failed", round + 1);
        }

        // Cross-process, into each kind of Messenger process.
        for (int kind = 0; kind < MessengerKindCount; ++kind) {
            double us[InjectedCount] = {-1, -1};
            for (Injected which : order) {
                us[which] = CrossProcessRound(*shared, ready, installed, dllPaths[which], MessengerKinds[kind]);
                if (us[which] < 0) {
                    ++failures;
                    Info("inject round %d: cross-process injection of %s (%s) failed", round + 1, dllNames[which],
                         MessengerKinds[kind].label);
                    continue;
                }
                // When the DLLs arrived in Messenger, and which (first round only, for the log).
                if (round == 0) {
                    std::string line;
                    for (const LoadEvent& event : timeline)
                        line += Format(" %s@%.0f", event.name.c_str(), event.at);
                    Info("inject timeline (%s, %s): host's call@0, DLLs loaded in Messenger (us):%s; menu seen@%.0f",
                         dllNames[which], MessengerKinds[kind].label, line.c_str(), us[which]);
                }
                if (which == InjectModule)
                    for (const LoadEvent& event : timeline)
                        if (lstrcmpiA(event.name.c_str(), ModuleFileName) == 0)
                            moduleDllArrivedUs[kind].push_back(event.at);
            }
            cross[kind].Add(us[InjectModule], us[InjectReference]);
            Info("inject round %d: cross-process (%s): module %.0f us, reference %.0f us", round + 1,
                 MessengerKinds[kind].label, us[InjectModule], us[InjectReference]);
        }
    }

    Info("inject: %d rounds, %d failed measurements", rounds, failures);
    for (int s = 0; s < StepCount; ++s)
        Info("inject replay step: %-58s cold %8.0f us  warm %8.0f us", StepNames[s], Median(coldSteps[s]),
             Median(warmSteps[s]));
    for (size_t i = 0; i < importNames.size(); ++i)
        Info("inject module import: %-16s loads in %8.0f us", importNames[i].c_str(), Median(importUs[i]));
    Info("inject module: OrvlHook.dll with its imports already loaded: %.0f us; the reference DLL: %.0f us",
         Median(afterImportsUs), Median(referenceUs));
    Info("inject DrawMenuBar again: %.0f us; SetWindowPos(SWP_FRAMECHANGED) %.0f us; "
         "RedrawWindow(RDW_FRAME | RDW_UPDATENOW) %.0f us", Median(drawAgainUs), Median(frameChangedUs),
         Median(framePaintedUs));
    for (int kind = 0; kind < MessengerKindCount; ++kind)
        Info("inject cross-process (%s): OrvlHook.dll reported by the loader after %.0f us, menu seen after %.0f us",
             MessengerKinds[kind].label, Median(moduleDllArrivedUs[kind]), Median(cross[kind].us[InjectModule]));
    if (inProcess.us[InjectModule].empty() || cross[0].ratios.empty() || coldTotal.empty()) {
        std::printf("ERROR|no injection measurement succeeded\n");
        return 1;
    }

    double inProcessMs = Median(inProcess.us[InjectModule]) / 1000.0;
    Row("3 Injection", Format("in-process: export call to marker + menu, module (median of %d processes)",
                              static_cast<int>(inProcess.us[InjectModule].size())),
        inProcess.Figure(InjectModule), "< 5 ms", Judge(inProcessMs, 5.0));
    Row("3 Injection", "in-process: the same, reference DLL (context)", inProcess.Figure(InjectReference));
    Row("3 Injection", "in-process: module / reference DLL (median of rounds, context)", inProcess.Ratio());
    Row("3 Injection", "in-process: the export's Wine calls made by the benchmark itself (context)",
        Format("first time %.2f ms, again %.2f ms", Median(coldTotal) / 1000.0, Median(warmTotal) / 1000.0));
    for (int kind = 0; kind < MessengerKindCount; ++kind) {
        const Compared& compared = cross[kind];
        if (compared.us[InjectModule].empty())
            continue;
        double moduleMs = Median(compared.us[InjectModule]) / 1000.0;
        Row("3 Injection", Format("cross-process, %s: host's hook call to marker + menu, module (median of %d)",
                                  MessengerKinds[kind].label, static_cast<int>(compared.us[InjectModule].size())),
            compared.Figure(InjectModule), "< 5 ms", Judge(moduleMs, 5.0));
        Row("3 Injection", Format("cross-process, %s: the same, reference DLL (context)", MessengerKinds[kind].label),
            compared.Figure(InjectReference));
        Row("3 Injection", Format("cross-process, %s: module / reference DLL (median of rounds)",
                                  MessengerKinds[kind].label),
            compared.Ratio());
    }
    Row("3 Injection", "loading OrvlHook.dll and its imports into a running Messenger process (context)",
        Format("%.2f ms; the reference DLL %.2f ms", Median(dllLoadUs[InjectModule]) / 1000.0,
               Median(dllLoadUs[InjectReference]) / 1000.0));
    return 0;
}

} // namespace bench
