// Recording stand-in for hhctrl.ocx; see hhctrl_recorder.h for what it answers.
#include "hhctrl_recorder.h"
#include "sandbox/stand_in_window.h"

namespace {

const UINT DisplayTopic = 0x0000;   // HH_DISPLAY_TOPIC
const UINT Initialize = 0x001C;     // HH_INITIALIZE
const UINT Pretranslate = 0x00FD;   // HH_PRETRANSLATEMESSAGE

HINSTANCE Instance = nullptr;
CRITICAL_SECTION Lock;
HhRecorderCall Calls[HH_RECORDER_MAX_CALLS];
LONG CallCount = 0;          // every call, also those past the table
HWND TopicWindow = nullptr;
HWND TopicText = nullptr;

LONG ReadCounter(const char* name)
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    if (length == 0 || length >= sizeof(text))
        return 0;
    LONG value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + (*p - '0');
    return value;
}

void AddToCounter(const char* name)
{
    char text[16];
    wsprintfA(text, "%ld", ReadCounter(name) + 1);
    SetEnvironmentVariableA(name, text);
}

bool LoadRefused()
{
    char text[8] = "";
    DWORD length = GetEnvironmentVariableA(HH_RECORDER_REFUSE_VARIABLE, text, sizeof(text));
    return length > 0 && length < sizeof(text) && text[0] == '1';
}

LRESULT CALLBACK TopicWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        if (TopicText)
            MoveWindow(TopicText, 8, 8, LOWORD(lParam) - 16, HIWORD(lParam) - 16, TRUE);
        return 0;
    case WM_DESTROY:
        if (window == TopicWindow) {
            TopicWindow = nullptr;
            TopicText = nullptr;
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// One window for every topic, like the viewer's own: made on first use, re-used after.
HWND ShowTopic(const char* address)
{
    if (!TopicWindow || !IsWindow(TopicWindow)) {
        sandbox::RegisterStandInWindowClass(Instance, TopicWindowProc, HhRecorderWindowClass);
        TopicWindow = CreateWindowExA(WS_EX_TOOLWINDOW, HhRecorderWindowClass, "Help (recorder)",
                                      WS_OVERLAPPEDWINDOW, 40, 40, 520, 140,
                                      nullptr, nullptr, Instance, nullptr);
        if (!TopicWindow)
            return nullptr;
        TopicText = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT,
                                    8, 8, 496, 90, TopicWindow, nullptr, Instance, nullptr);
    }
    if (TopicText)
        SetWindowTextA(TopicText, address ? address : "(null)");
    ShowWindow(TopicWindow, SW_SHOWNOACTIVATE);
    return TopicWindow;
}

} // namespace

extern "C" {

HWND WINAPI HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data)
{
    HWND result = nullptr;
    if (command == Initialize) {
        if (data)
            *reinterpret_cast<DWORD*>(data) = HH_RECORDER_COOKIE;
    } else if (command == DisplayTopic) {
        result = ShowTopic(file);
    }
    MSG offered = {};
    if (command == Pretranslate && data) {
        offered = *reinterpret_cast<const MSG*>(data);
        LONG takenKey = ReadCounter(HH_RECORDER_TAKE_KEY_VARIABLE);
        if (offered.message == WM_KEYDOWN && takenKey && offered.wParam == static_cast<WPARAM>(takenKey))
            result = reinterpret_cast<HWND>(1);
    }

    EnterCriticalSection(&Lock);
    if (CallCount < HH_RECORDER_MAX_CALLS) {
        HhRecorderCall& call = Calls[CallCount];
        call.caller = caller;
        call.fileAddress = file;
        call.file[0] = '\0';
        if (file)
            lstrcpynA(call.file, file, sizeof(call.file));
        call.command = command;
        call.data = data;
        call.threadId = GetCurrentThreadId();
        call.result = result;
        call.message = offered;
    }
    ++CallCount;
    LeaveCriticalSection(&Lock);
    return result;
}

LONG WINAPI HhRecorder_CallCount()
{
    EnterCriticalSection(&Lock);
    LONG count = CallCount;
    LeaveCriticalSection(&Lock);
    return count;
}

BOOL WINAPI HhRecorder_GetCall(LONG index, HhRecorderCall* call)
{
    if (!call)
        return FALSE;
    EnterCriticalSection(&Lock);
    BOOL found = index >= 0 && index < CallCount && index < HH_RECORDER_MAX_CALLS;
    if (found)
        *call = Calls[index];
    LeaveCriticalSection(&Lock);
    return found;
}

LONG WINAPI HhRecorder_LoadCount()
{
    return ReadCounter(HH_RECORDER_LOADS_VARIABLE);
}

HWND WINAPI HhRecorder_TopicWindow()
{
    return TopicWindow;
}

BOOL WINAPI HhRecorder_HasEntry()
{
#ifdef HH_RECORDER_NO_ENTRY
    return FALSE;
#else
    return TRUE;
#endif
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        if (LoadRefused()) {
            AddToCounter(HH_RECORDER_REFUSED_VARIABLE);
            return FALSE;
        }
        Instance = instance;
        InitializeCriticalSection(&Lock);
        AddToCounter(HH_RECORDER_LOADS_VARIABLE);
    } else if (reason == DLL_PROCESS_DETACH && Instance) {
        DeleteCriticalSection(&Lock);
    }
    return TRUE;
}

} // extern "C"
