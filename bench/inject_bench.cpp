// Injection: from the host's hook call to "Orvella Hook Installed" existing with the menu in
// Messenger's bar. Every round starts fresh processes, for the module's start-up state:
//   in-process     a process creates the "MSBLClass" window, then loads the module (timed, for
//                  context); the export is called there as the host's hook call and timed;
//   replay         a fresh process with the module loaded makes the export's Win32 calls itself,
//                  in its order, timed one by one (wine_calls.h), then again on a second window;
//                  before that it loads each DLL that the module imports on its own, then an empty
//                  DLL linked like the module, then the module, each timed;
//   cross-process  a Messenger process (the stand-in window and message loop) and this process as
//                  the host, injecting with the host stand-in's code (sandbox/host); from the
//                  host's call to the Messenger process seeing the menu and the event after the
//                  message that carried the hook (the clock is shared by the processes of the
//                  Wine session); once into a plain Messenger process and once into one that has
//                  comctl32 and shell32 loaded already.
#include "bench/bench_modes.h"
#include "bench/bench.h"
#include "bench/wine_calls.h"
#include "res/resource.h"
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
    // in-process child
    int inProcessOk;
    double moduleLoadUs;
    double exportUs;
    // replay child
    int replayOk;
    double coldSteps[StepCount];
    double warmSteps[StepCount];
    int importCount;
    char importNames[MaxImports][32];
    double importLoadUs[MaxImports];
    double moduleAfterImportsUs;
    double referenceLoadUs;  // orvl_bench_reference.dll, with the same imports loaded
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

int RunInjectInProcessChild()
{
    Shared* shared = OpenShared(false);
    if (!shared)
        return 1;
    // Messenger runs before the module arrives.
    HWND messenger = CreateMessenger();
    if (!messenger)
        return 1;
    Pump(300);
    ChooseEnglish();
    LONGLONG start = Ticks();
    HMODULE module = LoadLibraryA(ModulePath().c_str());
    shared->moduleLoadUs = MicrosecondsSince(start);
    HookProc hook = ExportedHook(module);
    if (!hook)
        return 1;
    Pump(300);

    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, HostInjectedEvent);
    start = Ticks();
    hook(0, 0, 0);
    shared->exportUs = MicrosecondsSince(start);
    bool signalled = WaitForSingleObject(injected, 0) == WAIT_OBJECT_0;
    CloseHandle(injected);
    shared->inProcessOk = signalled && EventExists(HookInstalledEvent) && ProductPopups(messenger) == 1;
    return shared->inProcessOk ? 0 : 1;
}

int RunInjectReplayChild()
{
    Shared* shared = OpenShared(false);
    if (!shared)
        return 1;
    HWND messenger = CreateMessenger();
    if (!messenger)
        return 1;
    Pump(300);
    // Each DLL that the module imports, loaded on its own in the module's order, then the module.
    std::vector<std::string> imports = ImportedDlls(ModulePath());
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
    // A DLL with nothing in it, linked like the module, for comparison.
    std::string reference = ModulePath();
    reference.replace(reference.size() - lstrlenA(ModuleName), std::string::npos, "orvl_bench_reference.dll");
    LONGLONG start = Ticks();
    shared->referenceLoadUs = LoadLibraryA(reference.c_str()) ? MicrosecondsSince(start) : -1.0;
    ChooseEnglish();
    start = Ticks();
    HMODULE module = LoadLibraryA(ModulePath().c_str());
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

// The loader's DLL notifications (ntdll's LdrRegisterDllNotification).
struct CountedText {
    USHORT length;
    USHORT capacity;
    PWSTR buffer;
};
struct LoadedDll {
    ULONG flags;
    const CountedText* fullName;
    const CountedText* baseName;
    PVOID base;
    ULONG size;
};
using DllNotification = VOID(CALLBACK*)(ULONG reason, const LoadedDll* data, PVOID context);
using RegisterDllNotification = LONG(NTAPI*)(ULONG flags, DllNotification callback, PVOID context, PVOID* cookie);

VOID CALLBACK NoteDllLoaded(ULONG reason, const LoadedDll* data, PVOID context)
{
    LONGLONG now = Ticks();
    Shared* shared = static_cast<Shared*>(context);
    if (reason != 1 /* loaded */ || !data || !data->baseName || shared->loadCount >= MaxLoads)
        return;
    int index = shared->loadCount++;
    shared->loadedAt[index] = now;
    int characters = data->baseName->length / 2;
    int i = 0;
    for (; i < characters && i < 31; ++i)
        shared->loadNames[index][i] = static_cast<char>(data->baseName->buffer[i]);
    shared->loadNames[index][i] = '\0';
}

} // namespace

int RunMessengerChild(bool preload)
{
    // Optionally with the common controls and the shell loaded, as GUI applications often have
    // them: the module's load then costs only what is its own and MAPI's.
    if (preload) {
        LoadLibraryA("comctl32.dll");
        LoadLibraryA("shell32.dll");
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
    RegisterDllNotification registerNotification = reinterpret_cast<RegisterDllNotification>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    PVOID cookie = nullptr;
    if (registerNotification)
        registerNotification(0, NoteDllLoaded, shared, &cookie);
    SetEvent(ready);
    // Messenger's loop. The host's hook runs inside GetMessageA; when it returns, whatever the
    // module did in it is done.
    bool seen = false;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!seen && ProductPopups(window) == 1 && EventExists(HookInstalledEvent)) {
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

// Starts a Messenger process, injects the module into it with the host stand-in's code and
// returns the microseconds from the call to Messenger seeing the menu and the event, or -1.
struct LoadEvent {
    std::string name;
    double at;  // microseconds after the host's call
};
std::vector<LoadEvent> timeline;  // of the last cross-process round

double CrossProcessRound(Shared& shared, HANDLE ready, HANDLE installed, const std::string& modulePath,
                         bool preloaded, double& answeredUs)
{
    ZeroMemory(&shared, sizeof(Shared));
    ResetEvent(ready);
    ResetEvent(installed);
    PROCESS_INFORMATION messenger = {};
    if (!RunChild(preloaded ? "messenger-preloaded" : "messenger", 0, &messenger))
        return -1.0;
    double us = -1.0;
    if (WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0) {
        Sleep(500);  // Messenger is idle in GetMessageA
        LONGLONG start = Ticks();
        sandbox::InjectResult result = sandbox::InjectIntoMessenger(20000, modulePath.c_str());
        answeredUs = MicrosecondsSince(start);
        if (result.outcome == sandbox::InjectOutcome::Injected && WaitForSingleObject(installed, 20000) == WAIT_OBJECT_0
            && shared.messengerOk && EventExists(HookInstalledEvent)) {
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
    // The host has the module loaded already: its own load is not part of the injection.
    std::string modulePath = ModulePath();
    if (!LoadLibraryA(modulePath.c_str())) {
        std::printf("ERROR|OrvlHook.dll did not load in the host\n");
        return 1;
    }

    std::vector<double> exportUs, moduleLoadUs, crossUs, crossPreloadedUs;
    std::vector<double> plainFirstDllUs, plainModuleDllUs, preloadedFirstDllUs, preloadedModuleDllUs;
    std::vector<double> coldSteps[StepCount], warmSteps[StepCount], coldTotal, warmTotal;
    std::vector<std::vector<double>> importUs;
    std::vector<std::string> importNames;
    std::vector<double> afterImportsUs, referenceUs, drawAgainUs, frameChangedUs, framePaintedUs;
    int failures = 0;

    for (int round = 0; round < rounds; ++round) {
        // In-process.
        ZeroMemory(shared, sizeof(Shared));
        if (RunChild("inject-inprocess", 120000) && shared->inProcessOk) {
            exportUs.push_back(shared->exportUs);
            moduleLoadUs.push_back(shared->moduleLoadUs);
            Info("inject round %d: in-process export %.0f us, module load %.0f us", round + 1, shared->exportUs,
                 shared->moduleLoadUs);
        } else {
            ++failures;
            Info("inject round %d: the in-process child failed", round + 1);
        }

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

        // Cross-process, into a plain Messenger process and into one with libraries preloaded.
        for (int variant = 0; variant < 2; ++variant) {
            double answered = 0;
            double us = CrossProcessRound(*shared, ready, installed, modulePath, variant == 1, answered);
            if (us < 0) {
                ++failures;
                Info("inject round %d: cross-process injection (%s) failed", round + 1, variant ? "preloaded" : "plain");
                continue;
            }
            (variant ? crossPreloadedUs : crossUs).push_back(us);
            // When the DLLs arrived in Messenger, and which (first round only, for the log).
            if (round == 0) {
                std::string line;
                for (const LoadEvent& event : timeline)
                    line += Format(" %s@%.0f", event.name.c_str(), event.at);
                Info("inject timeline (%s): host's call@0, DLLs loaded in Messenger (us):%s; menu seen@%.0f",
                     variant ? "preloaded" : "plain", line.c_str(), us);
            }
            if (!timeline.empty()) {
                (variant ? preloadedFirstDllUs : plainFirstDllUs).push_back(timeline.front().at);
                for (const LoadEvent& event : timeline)
                    if (lstrcmpiA(event.name.c_str(), ModuleName) == 0)
                        (variant ? preloadedModuleDllUs : plainModuleDllUs).push_back(event.at);
            }
            Info("inject round %d: cross-process (%s) %.0f us (host saw the answer after %.0f us)", round + 1,
                 variant ? "preloaded" : "plain", us, answered);
        }
    }

    Info("inject: %d rounds, %d failed measurements", rounds, failures);
    for (int s = 0; s < StepCount; ++s)
        Info("inject replay step: %-58s cold %8.0f us  warm %8.0f us", StepNames[s], Median(coldSteps[s]),
             Median(warmSteps[s]));
    for (size_t i = 0; i < importNames.size(); ++i)
        Info("inject module import: %-16s loads in %8.0f us", importNames[i].c_str(), Median(importUs[i]));
    Info("inject module: OrvlHook.dll with its imports already loaded: %.0f us; an empty DLL linked the same way: "
         "%.0f us", Median(afterImportsUs), Median(referenceUs));
    Info("inject DrawMenuBar again: %.0f us; SetWindowPos(SWP_FRAMECHANGED) %.0f us; "
         "RedrawWindow(RDW_FRAME | RDW_UPDATENOW) %.0f us", Median(drawAgainUs), Median(frameChangedUs),
         Median(framePaintedUs));

    Info("inject cross-process (plain): first DLL in Messenger after %.0f us, OrvlHook.dll reported after %.0f us, "
         "menu seen after %.0f us", Median(plainFirstDllUs), Median(plainModuleDllUs), Median(crossUs));
    Info("inject cross-process (preloaded): first DLL in Messenger after %.0f us, OrvlHook.dll reported after %.0f us, "
         "menu seen after %.0f us", Median(preloadedFirstDllUs), Median(preloadedModuleDllUs), Median(crossPreloadedUs));
    if (exportUs.empty() || crossUs.empty() || coldTotal.empty()) {
        std::printf("ERROR|no injection measurement succeeded\n");
        return 1;
    }
    double inProcess = Median(exportUs) / 1000.0;
    double cross = Median(crossUs) / 1000.0;
    Row("3 Injection", Format("in-process: export call to marker + menu (median of %d processes)",
                              static_cast<int>(exportUs.size())),
        Format("%.2f ms (%.2f..%.2f)", inProcess, Minimum(exportUs) / 1000.0, Maximum(exportUs) / 1000.0), "< 5 ms",
        Judge(inProcess, 5.0));
    Row("3 Injection", "in-process: the export's Wine calls made by the benchmark itself (context)",
        Format("first time %.2f ms, again %.2f ms", Median(coldTotal) / 1000.0, Median(warmTotal) / 1000.0));
    Row("3 Injection", Format("cross-process: host's hook call to marker + menu in Messenger (median of %d)",
                              static_cast<int>(crossUs.size())),
        Format("%.2f ms (%.2f..%.2f)", cross, Minimum(crossUs) / 1000.0, Maximum(crossUs) / 1000.0), "< 5 ms",
        Judge(cross, 5.0));
    if (!crossPreloadedUs.empty())
        Row("3 Injection", Format("cross-process, comctl32 and shell32 already in Messenger (median of %d)",
                                  static_cast<int>(crossPreloadedUs.size())),
            Format("%.2f ms (%.2f..%.2f)", Median(crossPreloadedUs) / 1000.0, Minimum(crossPreloadedUs) / 1000.0,
                   Maximum(crossPreloadedUs) / 1000.0),
            "< 5 ms", Judge(Median(crossPreloadedUs) / 1000.0, 5.0));
    Row("3 Injection", "loading OrvlHook.dll and its imports into a running Messenger process (context)",
        Format("%.2f ms", Median(moduleLoadUs) / 1000.0));
    return 0;
}

} // namespace bench
