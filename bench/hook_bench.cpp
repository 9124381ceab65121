// The menu-trigger hook on Messenger's thread: what it adds to every message the thread
// retrieves, for ordinary messages and for the two trigger messages with the menu in place.
//
// Three user-interface threads, each with a visible Messenger-like window, retrieve the same
// streams of posted messages, one thread at a time, in alternating order: Messenger's thread (the
// "MSBLClass" window, the module injected by a real handshake, so its WH_GETMESSAGE hook), a
// thread with an empty pass-through WH_GETMESSAGE hook, and a thread with no hook at all
// (context: what Wine's hook call itself costs). FindWindowA("MSBLClass") is timed on
// Messenger's thread in the same rounds.
#include "bench/bench_modes.h"
#include "bench/bench.h"
#include "sandbox/messenger/messenger_window.h"

#include <cstdio>

namespace bench {

namespace {

// Ordinary messages of the kinds an application posts itself (none is a trigger).
const UINT OrdinaryMessages[] = {WM_USER + 1, WM_USER + 0x65, WM_APP + 1, WM_APP + 0x10};
// The module's triggers: WM_APP + 2 and WM_USER.
const UINT TriggerMessages[] = {0x8002, 0x0400};

struct Stream {
    const UINT* messages;
    int kinds;
};
const Stream Ordinary = {OrdinaryMessages, 4};
const Stream Triggers = {TriggerMessages, 2};

int mismatches = 0;  // messages that came back other than posted (none expected)

// Posts `count` thread messages to the calling thread, then times their retrieval with
// GetMessageA. Returns microseconds per message.
double RetrieveStream(const Stream& stream, int count)
{
    MSG message;
    // Nothing else may be waiting (a paint or a timer would be retrieved after the stream).
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DWORD self = GetCurrentThreadId();
    for (int i = 0; i < count; ++i)
        PostThreadMessageA(self, stream.messages[i % stream.kinds], static_cast<WPARAM>(i), 0);
    LONGLONG start = Ticks();
    for (int i = 0; i < count; ++i) {
        GetMessageA(&message, nullptr, 0, 0);
        if (message.message != stream.messages[i % stream.kinds] || message.wParam != static_cast<WPARAM>(i))
            ++mismatches;
    }
    return MicrosecondsSince(start) / count;
}

double TimeFindWindow(int count)
{
    int missing = 0;
    LONGLONG start = Ticks();
    for (int i = 0; i < count; ++i)
        if (!FindWindowA("MSBLClass", nullptr))
            ++missing;
    double perCall = MicrosecondsSince(start) / count;
    mismatches += missing;
    return perCall;
}

LRESULT CALLBACK PassThroughHook(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A window like Messenger's (same procedure, menu bar, size), under a class of its own so that
// FindWindowA("MSBLClass") still finds only Messenger's.
HWND CreateLookalikeWindow()
{
    const char className[] = "OrvlBenchWindow";
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), className, &windowClass)) {
        windowClass.lpfnWndProc = sandbox::MessengerWindowProcedureA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);
    }
    HWND window = CreateWindowExA(0, className, "Windows Messenger", WS_OVERLAPPEDWINDOW, 40, 40, 420, 300, nullptr,
                                  sandbox::CreateMessengerMenuBar(), GetModuleHandleA(nullptr), nullptr);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

// A user-interface thread with a visible window that retrieves streams on request.
enum class ThreadKind {
    Module,  // Messenger's window, the module injected into this thread by the handshake
    Empty,   // a look-alike window and an empty pass-through WH_GETMESSAGE hook
    None,    // a look-alike window and no hook
};

enum class Job { Ordinary, Triggers, FindWindow, Quit };

struct Worker {
    ThreadKind kind = ThreadKind::None;
    HMODULE module = nullptr;
    HANDLE thread = nullptr;
    HANDLE go = nullptr, done = nullptr;  // a job handed out, the job finished
    HWND window = nullptr;
    bool ready = false;
    // The job, set before `go`.
    Job job = Job::Quit;
    int count = 0;
    double result = 0.0;
};

DWORD WINAPI WorkerMain(LPVOID parameter)
{
    Worker* worker = static_cast<Worker*>(parameter);
    HHOOK hook = nullptr;
    switch (worker->kind) {
    case ThreadKind::Module:
        worker->window = CreateMessenger();
        Pump(300);
        worker->ready = worker->window && HandshakeInProcess(worker->module) && EventExists(HookInstalledEventName)
                        && ProductPopups(worker->window) == 1;
        break;
    case ThreadKind::Empty:
        worker->window = CreateLookalikeWindow();
        hook = SetWindowsHookExA(WH_GETMESSAGE, PassThroughHook, nullptr, GetCurrentThreadId());
        worker->ready = worker->window && hook;
        break;
    case ThreadKind::None:
        worker->window = CreateLookalikeWindow();
        worker->ready = worker->window != nullptr;
        break;
    }
    Pump(300);
    SetEvent(worker->done);
    for (;;) {
        // Waiting with the message loop's own wait, as a user-interface thread does.
        while (MsgWaitForMultipleObjects(1, &worker->go, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
            Pump(0);
        if (worker->job == Job::Quit)
            break;
        switch (worker->job) {
        case Job::Ordinary: worker->result = RetrieveStream(Ordinary, worker->count); break;
        case Job::Triggers: worker->result = RetrieveStream(Triggers, worker->count); break;
        case Job::FindWindow: worker->result = TimeFindWindow(worker->count); break;
        case Job::Quit: break;
        }
        SetEvent(worker->done);
    }
    if (hook)
        UnhookWindowsHookEx(hook);
    SetEvent(worker->done);
    return 0;
}

bool StartWorker(Worker& worker, ThreadKind kind, HMODULE module)
{
    worker.kind = kind;
    worker.module = module;
    worker.go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    worker.done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD id = 0;
    worker.thread = CreateThread(nullptr, 0, WorkerMain, &worker, 0, &id);
    return worker.thread && WaitForSingleObject(worker.done, 60000) == WAIT_OBJECT_0 && worker.ready;
}

double Run(Worker& worker, Job job, int count)
{
    worker.job = job;
    worker.count = count;
    SetEvent(worker.go);
    WaitForSingleObject(worker.done, INFINITE);
    return worker.result;
}

void StopWorker(Worker& worker)
{
    worker.job = Job::Quit;
    SetEvent(worker.go);
    WaitForSingleObject(worker.done, 30000);
}

} // namespace

int RunHookBenchmarks(int rounds, int count)
{
    HMODULE module = LoadModule();
    if (!module) {
        std::printf("ERROR|OrvlHook.dll did not load (error %lu)\n", GetLastError());
        return 1;
    }
    // Every stream runs on a thread of its own kind; this thread only hands out the jobs, one
    // at a time.
    Worker mine, empty, bare;
    if (!StartWorker(mine, ThreadKind::Module, module) || !StartWorker(empty, ThreadKind::Empty, module)
        || !StartWorker(bare, ThreadKind::None, module)) {
        std::printf("ERROR|the threads did not start (or the handshake did not install the module)\n");
        return 1;
    }

    // One round of everything to warm up, not counted.
    Run(mine, Job::Ordinary, count);
    Run(empty, Job::Ordinary, count);
    Run(bare, Job::Ordinary, count);
    Run(mine, Job::Triggers, count);
    Run(empty, Job::Triggers, count);
    Run(mine, Job::FindWindow, count);
    mismatches = 0;

    std::vector<double> moduleOrdinary, emptyOrdinary, bareOrdinary, ordinaryRatio;
    std::vector<double> moduleTrigger, emptyTrigger, findWindow, triggerExtra, extraInFindWindows;
    for (int round = 0; round < rounds; ++round) {
        double mo, eo, bo, mt, et, fw;
        struct Turn {
            Worker& worker;
            Job job;
            double& result;
        };
        const Turn turns[] = {{mine, Job::Ordinary, mo}, {empty, Job::Ordinary, eo}, {bare, Job::Ordinary, bo},
                              {mine, Job::Triggers, mt}, {empty, Job::Triggers, et}, {mine, Job::FindWindow, fw}};
        const int turnCount = sizeof(turns) / sizeof(turns[0]);
        // Alternate the order, so that a drift in load favours neither side.
        for (int i = 0; i < turnCount; ++i) {
            const Turn& turn = turns[round % 2 == 0 ? i : turnCount - 1 - i];
            turn.result = Run(turn.worker, turn.job, count);
        }
        moduleOrdinary.push_back(mo);
        emptyOrdinary.push_back(eo);
        bareOrdinary.push_back(bo);
        ordinaryRatio.push_back(mo / eo);
        moduleTrigger.push_back(mt);
        emptyTrigger.push_back(et);
        findWindow.push_back(fw);
        triggerExtra.push_back(mt - et);
        extraInFindWindows.push_back((mt - et) / fw);
        Info("hooks round %d: ordinary module %.2f empty %.2f none %.2f us; trigger module %.2f empty %.2f us; "
             "FindWindowA %.2f us", round + 1, mo, eo, bo, mt, et, fw);
    }
    int popups = ProductPopups(mine.window);
    StopWorker(mine);
    StopWorker(empty);
    StopWorker(bare);
    if (mismatches || popups != 1) {
        std::printf("ERROR|%d messages came back other than posted; %d product popups after the run\n", mismatches,
                    popups);
        return 1;
    }

    double ratio = Median(ordinaryRatio);
    Info("hooks: %d rounds of %d messages per thread and stream", rounds, count);
    Row("1 Ordinary messages", "per message, module's hook (median)", Format("%.2f us", Median(moduleOrdinary)));
    Row("1 Ordinary messages", "per message, empty hook (median)", Format("%.2f us", Median(emptyOrdinary)));
    Row("1 Ordinary messages", "per message, no hook (context)", Format("%.2f us", Median(bareOrdinary)));
    Row("1 Ordinary messages", "module's hook / empty hook (median of rounds)",
        Format("%.3f (%+.1f%%; rounds %.3f..%.3f)", ratio, (ratio - 1.0) * 100.0, Minimum(ordinaryRatio),
               Maximum(ordinaryRatio)),
        "<= 1.05", Judge(ratio, 1.05));

    double extra = Median(triggerExtra);
    double inFindWindows = Median(extraInFindWindows);
    Row("2 Trigger messages, menu present", "per message, module's hook (median)", Format("%.2f us", Median(moduleTrigger)));
    Row("2 Trigger messages, menu present", "per message, empty hook (median)", Format("%.2f us", Median(emptyTrigger)));
    Row("2 Trigger messages, menu present", "FindWindowA(\"MSBLClass\", NULL) (median)", Format("%.2f us", Median(findWindow)));
    Row("2 Trigger messages, menu present", "module's hook - empty hook, in FindWindowA calls (median of rounds)",
        Format("%.2f us = %.2f calls (rounds %.2f..%.2f)", extra, inFindWindows, Minimum(extraInFindWindows),
               Maximum(extraInFindWindows)),
        "<= 2 calls", Judge(inFindWindows, 2.0));
    return 0;
}

} // namespace bench
