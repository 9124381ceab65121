#include "tests/rig/rig.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace rig {

// ---- Texts -------------------------------------------------------------------------------

namespace {

std::wstring ToWide(UINT codePage, const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &result[0], size);
    return result;
}

std::string FromWide(UINT codePage, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, &result[0], size, nullptr, nullptr);
    return result;
}

} // namespace

std::string Utf8(const std::wstring& text)
{
    return FromWide(CP_UTF8, text);
}

std::wstring Wide(const std::string& utf8)
{
    return ToWide(CP_UTF8, utf8);
}

std::string Ansi(const std::string& utf8)
{
    return FromWide(CP_ACP, Wide(utf8));
}

std::string FromAnsi(const std::string& bytes)
{
    return Utf8(ToWide(CP_ACP, bytes));
}

std::string WindowText(HWND window)
{
    // WM_GETTEXT through SendMessageTimeout: safe while the owning thread is busy elsewhere.
    wchar_t buffer[4096] = L"";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof(buffer) / sizeof(buffer[0]),
                             reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &copied))
        return std::string();
    return Utf8(buffer);
}

std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string ModuleString(UINT id)
{
    wchar_t buffer[2048] = L"";
    LoadStringW(Module(), id, buffer, sizeof(buffer) / sizeof(buffer[0]));
    return Utf8(buffer);
}

// ---- Registry ------------------------------------------------------------------------------

const char SettingsKey[] = "SOFTWARE\\Dorvane Ltd\\Orvella";

void DeleteSettingsKey()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}

void SetSettingRaw(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void SetSettingDword(const char* name, DWORD value)
{
    SetSettingRaw(name, REG_DWORD, &value, sizeof(value));
}

void SetSettingString(const char* name, const std::string& value)
{
    SetSettingRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

RegValue ReadSetting(const char* name)
{
    RegValue value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.assign(size, '\0');
        if (RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(&value.data[0]), &size)
            == ERROR_SUCCESS) {
            value.data.resize(size);
            value.present = true;
        }
    }
    RegCloseKey(key);
    return value;
}

// ---- The module ------------------------------------------------------------------------------

namespace {
HMODULE loadedModule = nullptr;
}

HMODULE LoadModule(Language language)
{
    if (loadedModule)
        return loadedModule;
    switch (language) {
    case Language::AsStored:
        break;
    case Language::NoKey:
        DeleteSettingsKey();
        break;
    case Language::Absent: {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "Lang");
            RegCloseKey(key);
        }
        break;
    }
    case Language::English:
        SetSettingDword("Lang", 0);
        break;
    case Language::Russian:
        SetSettingDword("Lang", 1);
        break;
    }
    loadedModule = LoadLibraryA("OrvlHook.dll");
    EXPECT_NE(nullptr, loadedModule) << "OrvlHook.dll did not load, error " << GetLastError();
    // The module's sheets come from the comctl32 that rig_main.cpp checked, the one the process has.
    void* expected = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "PropertySheetW"));
    void* bound = loadedModule ? ReplaceImport(loadedModule, "COMCTL32.DLL", "PropertySheetW", expected) : expected;
    EXPECT_EQ(expected, bound) << "the module's PropertySheetW is not the process's comctl32";
    return loadedModule;
}

HMODULE Module()
{
    return loadedModule;
}

HookProc ExportedHook()
{
    if (!loadedModule)
        return nullptr;
    return reinterpret_cast<HookProc>(reinterpret_cast<void*>(GetProcAddress(loadedModule, MAKEINTRESOURCEA(1))));
}

bool InjectAsHost()
{
    HookProc hook = ExportedHook();
    if (!hook)
        return false;
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, "Orvella Dll Injected");
    if (!injected)
        return false;
    LRESULT result = hook(0, 0, 0);
    EXPECT_EQ(0, result);
    bool signalled = WaitForSingleObject(injected, 0) == WAIT_OBJECT_0;
    CloseHandle(injected);
    return signalled;
}

// ---- Messenger ------------------------------------------------------------------------------

HWND CreateMessenger(bool withMenuBar, bool firstItemPopup, sandbox::CharacterSet characterSet)
{
    // The first window of a process can fail while Wine's desktop process is still starting.
    HWND window = nullptr;
    for (int attempt = 0; attempt < 5 && !window; ++attempt) {
        window = sandbox::CreateMessengerWindow(withMenuBar, firstItemPopup, characterSet);
        if (!window)
            Sleep(500);
    }
    EXPECT_NE(nullptr, window) << "Messenger stand-in not created, error " << GetLastError();
    sandbox::ResetMessengerStats();
    Pump(20);
    return window;
}

WNDPROC WindowProcedure(HWND window)
{
    LONG value = IsWindowUnicode(window) ? GetWindowLongW(window, GWL_WNDPROC) : GetWindowLongA(window, GWL_WNDPROC);
    return reinterpret_cast<WNDPROC>(value);
}

std::vector<MenuItem> MenuItems(HMENU menu)
{
    std::vector<MenuItem> items;
    int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        wchar_t text[256] = L"";
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text) / sizeof(text[0]);
        MenuItem item;
        if (GetMenuItemInfoW(menu, position, TRUE, &info)) {
            item.id = info.wID;
            item.submenu = info.hSubMenu;
            item.popup = info.hSubMenu != nullptr;
            item.separator = (info.fType & MFT_SEPARATOR) != 0;
            item.text = Utf8(text);
        }
        items.push_back(item);
    }
    return items;
}

int CountProductPopups(HMENU menuBar)
{
    int count = 0;
    for (const MenuItem& item : MenuItems(menuBar))
        if (item.popup && item.text == "Orvella")
            ++count;
    return count;
}

// ---- Messages --------------------------------------------------------------------------------

namespace {
LPVOID triggerFiber = nullptr;   // the test's main thread, as a fiber
LPVOID scriptFiber = nullptr;    // the modal script in progress, if any
bool insideScript = false;       // the script fiber is the one running

bool InScript()
{
    return insideScript;
}

void ResumeScript()
{
    insideScript = true;
    SwitchToFiber(scriptFiber);
    insideScript = false;
}

// In a modal script: lets the trigger's modal loop run until the next tick. Elsewhere: pumps.
void YieldToTrigger()
{
    if (InScript())
        SwitchToFiber(triggerFiber);
    else
        Pump(10);
}
} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        YieldToTrigger();
    }
    return true;
}

namespace {

std::mutex recorderLock;
std::vector<RecordedMessage>* recorded = nullptr;
std::vector<UINT> recordedFilter;
HHOOK sentHook = nullptr;
HHOOK postedHook = nullptr;

bool Wanted(UINT message)
{
    if (recordedFilter.empty())
        return true;
    for (UINT wanted : recordedFilter)
        if (wanted == message)
            return true;
    return false;
}

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPRETSTRUCT* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        std::lock_guard<std::mutex> guard(recorderLock);
        if (recorded && Wanted(sent->message))
            recorded->push_back({sent->hwnd, sent->message, sent->wParam, sent->lParam, sent->lResult, true});
    }
    return CallNextHookEx(sentHook, code, wParam, lParam);
}

LRESULT CALLBACK RecordPosted(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const MSG* posted = reinterpret_cast<const MSG*>(lParam);
        std::lock_guard<std::mutex> guard(recorderLock);
        if (recorded && Wanted(posted->message))
            recorded->push_back({posted->hwnd, posted->message, posted->wParam, posted->lParam, 0, false});
    }
    return CallNextHookEx(postedHook, code, wParam, lParam);
}

} // namespace

MessageRecorder::MessageRecorder(std::vector<UINT> messages)
{
    std::lock_guard<std::mutex> guard(recorderLock);
    recorded = new std::vector<RecordedMessage>();
    recordedFilter = std::move(messages);
    sentHook = SetWindowsHookExA(WH_CALLWNDPROCRET, RecordSent, nullptr, GetCurrentThreadId());
    postedHook = SetWindowsHookExA(WH_GETMESSAGE, RecordPosted, nullptr, GetCurrentThreadId());
}

MessageRecorder::~MessageRecorder()
{
    UnhookWindowsHookEx(sentHook);
    UnhookWindowsHookEx(postedHook);
    std::lock_guard<std::mutex> guard(recorderLock);
    delete recorded;
    recorded = nullptr;
    recordedFilter.clear();
}

std::vector<RecordedMessage> MessageRecorder::Messages() const
{
    std::lock_guard<std::mutex> guard(recorderLock);
    return *recorded;
}

std::vector<RecordedMessage> MessageRecorder::MessagesTo(HWND window) const
{
    std::vector<RecordedMessage> result;
    for (const RecordedMessage& message : Messages())
        if (message.window == window)
            result.push_back(message);
    return result;
}

void MessageRecorder::Clear()
{
    std::lock_guard<std::mutex> guard(recorderLock);
    recorded->clear();
}

std::string Describe(const std::vector<RecordedMessage>& messages)
{
    std::string text;
    for (const RecordedMessage& message : messages) {
        char line[160];
        wsprintfA(line, "%s %04x wParam=%08x lParam=%08x result=%08x\n", message.sent ? "sent" : "posted",
                  message.message, static_cast<unsigned>(message.wParam), static_cast<unsigned>(message.lParam),
                  static_cast<unsigned>(message.result));
        text += line;
    }
    return text;
}

// ---- Modal windows ---------------------------------------------------------------------------

namespace {

// ORVL_RIG_TRACE=1 in the environment prints the driver's steps, for debugging a stuck script.
void Trace(const char* format, ...)
{
    static const bool enabled = GetEnvironmentVariableA("ORVL_RIG_TRACE", nullptr, 0) != 0;
    if (!enabled)
        return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(line, format, arguments);
    va_end(arguments);
    fprintf(stderr, "[rig %lu %04lx] %s\n", GetTickCount(), GetCurrentThreadId(), line);
    fflush(stderr);
}

struct FindRequest {
    DWORD process;
    const char* className;
    std::wstring caption;
    bool anyCaption;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM lParam)
{
    FindRequest* request = reinterpret_cast<FindRequest*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != request->process || !IsWindowVisible(window))
        return TRUE;
    if (ClassName(window) != request->className)
        return TRUE;
    if (!request->anyCaption) {
        wchar_t caption[512] = L"";
        GetWindowTextW(window, caption, sizeof(caption) / sizeof(caption[0]));
        if (request->caption != caption)
            return TRUE;
    }
    request->found = window;
    return FALSE;
}

HWND FindProcessWindow(const char* className, const char* caption)
{
    FindRequest request{GetCurrentProcessId(), className, caption ? Wide(caption) : std::wstring(), caption == nullptr,
                        nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
    return request.found;
}


// Asks whatever modal window is left to close: sheets by Cancel, message boxes and dialogs by
// IDCANCEL/IDOK and WM_CLOSE. Posted, so the modal loops act on it when they next run.
void CloseLeftovers()
{
    for (HWND dialog : OpenDialogs()) {
        if (SendMessageA(dialog, PSM_GETCURRENTPAGEHWND, 0, 0) && GetDlgItem(dialog, IDCANCEL))
            PostMessageA(dialog, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}

} // namespace

namespace {

struct ScriptRun {
    const std::function<void(ModalScript&)>* script;
    ModalScript* driver;
    bool done;
    DWORD start;
    DWORD doneAt;
    DWORD timeoutMs;
    bool closedLeftovers;
};
ScriptRun* currentRun = nullptr;

void CALLBACK RunScript(LPVOID parameter)
{
    ScriptRun* run = static_cast<ScriptRun*>(parameter);
    Trace("script starts");
    (*run->script)(*run->driver);
    Trace("script ends");
    run->done = true;
    run->doneAt = GetTickCount();
    for (;;)
        SwitchToFiber(triggerFiber);  // a fiber must never return
}

// A thread timer: modal loops dispatch it, and each tick runs the script until it waits again.
void CALLBACK DriveScript(HWND, UINT, UINT_PTR, DWORD)
{
    ScriptRun* run = currentRun;
    if (!run || InScript())
        return;  // a modal window opened by the script itself: the script resumes when it closes
    if (!run->done)
        ResumeScript();
    DWORD now = GetTickCount();
    bool overdue = run->done ? now - run->doneAt > 3000 : now - run->start > run->timeoutMs;
    if (overdue) {
        if (!run->closedLeftovers)
            ADD_FAILURE() << (run->done ? "a modal window was left open by the test; closing it"
                                        : "modal script timed out; closing what is open");
        run->closedLeftovers = true;
        CloseLeftovers();
    }
}

} // namespace

void RunModal(const std::function<void()>& trigger, const std::function<void(ModalScript&)>& script, DWORD timeoutMs)
{
    // The script runs on this thread as a fiber, resumed by a timer from inside the trigger's
    // modal loop: no second thread, so no cross-thread messages and nothing to synchronise.
    if (!triggerFiber)
        triggerFiber = ConvertThreadToFiber(nullptr);
    ASSERT_NE(nullptr, triggerFiber);
    ModalScript driver;
    ScriptRun run = {&script, &driver, false, GetTickCount(), 0, timeoutMs, false};
    scriptFiber = CreateFiber(256 * 1024, RunScript, &run);
    ASSERT_NE(nullptr, scriptFiber);
    currentRun = &run;
    UINT_PTR timer = SetTimer(nullptr, 0, 15, DriveScript);
    Trace("trigger starts");
    trigger();
    Trace("trigger returned");
    KillTimer(nullptr, timer);
    // The trigger may return before the script has finished checking what it saw.
    while (!run.done && GetTickCount() - run.start < timeoutMs)
        ResumeScript();
    currentRun = nullptr;
    EXPECT_TRUE(run.done) << "the modal script did not finish";
    DeleteFiber(scriptFiber);
    scriptFiber = nullptr;
    EXPECT_FALSE(driver.failed) << "the modal script reported a failure";
    EXPECT_TRUE(OpenDialogs().empty()) << "dialogs still open after the modal call returned";
    for (int round = 0; round < 50 && !OpenDialogs().empty(); ++round) {
        CloseLeftovers();
        Pump(20);
    }
    Pump(20);
}

HWND ModalScript::WaitForWindow(const char* className, const char* caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    Trace("waiting for %s %s", className, caption ? caption : "(any caption)");
    for (;;) {
        if (HWND window = FindProcessWindow(className, caption)) {
            Trace("found %p", static_cast<void*>(window));
            return window;
        }
        if (GetTickCount() - start >= timeoutMs)
            break;
        YieldToTrigger();
    }
    failed = true;
    ADD_FAILURE() << "no window of class " << className << (caption ? " with caption " : "") << (caption ? caption : "")
                  << " appeared within " << timeoutMs << " ms";
    return nullptr;
}

bool ModalScript::WaitForClose(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs) {
            failed = true;
            ADD_FAILURE() << "window did not close within " << timeoutMs << " ms";
            return false;
        }
        YieldToTrigger();
    }
    return true;
}

HWND ModalScript::CurrentPage(HWND sheet)
{
    DWORD_PTR page = 0;
    SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 5000, &page);
    return reinterpret_cast<HWND>(page);
}

void ModalScript::PressSheetButton(HWND sheet, int button)
{
    PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
}

void ModalScript::Click(HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    EXPECT_NE(nullptr, control) << "no control " << controlId;
    if (control)
        PostMessageA(control, BM_CLICK, 0, 0);
}

namespace {

BOOL CALLBACK FindBoxText(HWND child, LPARAM lParam)
{
    if (ClassName(child) == "Static" && !(GetWindowLongA(child, GWL_STYLE) & SS_ICON)) {
        std::string text = WindowText(child);
        if (!text.empty()) {
            *reinterpret_cast<std::string*>(lParam) = text;
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CALLBACK FindBoxIcon(HWND child, LPARAM lParam)
{
    if (ClassName(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR icon = 0;
        SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
        *reinterpret_cast<HICON*>(lParam) = reinterpret_cast<HICON>(icon);
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::string ModalScript::MessageBoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
    return text;
}

UINT ModalScript::MessageBoxIcon(HWND box)
{
    HICON icon = nullptr;
    EnumChildWindows(box, FindBoxIcon, reinterpret_cast<LPARAM>(&icon));
    if (!icon)
        return 0;
    struct { UINT style; LPCSTR id; } known[] = {
        {MB_ICONERROR, IDI_HAND}, {MB_ICONINFORMATION, IDI_ASTERISK},
        {MB_ICONWARNING, IDI_EXCLAMATION}, {MB_ICONQUESTION, IDI_QUESTION}};
    for (const auto& entry : known)
        if (LoadIconA(nullptr, entry.id) == icon)
            return entry.style;
    return 0xFFFFFFFF;
}

void ModalScript::CloseMessageBox(HWND box)
{
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitForClose(box);
}

void ModalScript::OnWindowThread(HWND, const std::function<void()>& fn)
{
    fn();  // the script already runs on the windows' own thread
}

// ---- Controls ------------------------------------------------------------------------------

void WithSettingsSheet(HWND messenger, const char* caption,
                       const std::function<void(ModalScript&, HWND sheet, HWND page)>& body)
{
    RunModal([&] { EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, IDM_SETTINGS, 0)); },
             [&](ModalScript& script) {
                 HWND sheet = script.WaitForWindow("#32770", caption);
                 if (!sheet)
                     return;
                 HWND page = script.CurrentPage(sheet);
                 EXPECT_NE(nullptr, page) << "the sheet has no page";
                 if (page)
                     body(script, sheet, page);
                 script.WaitForClose(sheet);
             });
}

std::string ControlText(HWND dialog, int controlId)
{
    return WindowText(GetDlgItem(dialog, controlId));
}

bool ControlEnabled(HWND dialog, int controlId)
{
    return IsWindowEnabled(GetDlgItem(dialog, controlId)) != FALSE;
}

bool ButtonChecked(HWND dialog, int controlId)
{
    DWORD_PTR state = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, controlId), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return (state & BST_CHECKED) != 0;
}

std::vector<std::string> ComboItems(HWND dialog, int controlId)
{
    std::vector<std::string> items;
    HWND combo = GetDlgItem(dialog, controlId);
    DWORD_PTR count = 0;
    SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR index = 0; index < count; ++index) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, index, 0, SMTO_ABORTIFHUNG, 5000, &length);
        std::wstring text(length + 1, L'\0');
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                            &ignored);
        text.resize(length);
        items.push_back(Utf8(text));
    }
    return items;
}

void SetControlText(HWND dialog, int controlId, const std::string& text)
{
    std::wstring wide = Wide(text);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
}

std::vector<std::string> LabelTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        bool label = ClassName(child) == "Static" && (GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF
                     && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
        if (label)
            texts.push_back(WindowText(child));
    }
    return texts;
}

std::string SheetTabText(HWND sheet, int index)
{
    DWORD_PTR tabs = 0;
    SendMessageTimeoutW(sheet, PSM_GETTABCONTROL, 0, 0, SMTO_ABORTIFHUNG, 5000, &tabs);
    wchar_t text[256] = L"";
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text) / sizeof(text[0]);
    DWORD_PTR ignored = 0;
    if (!tabs || !SendMessageTimeoutW(reinterpret_cast<HWND>(tabs), TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item),
                                      SMTO_ABORTIFHUNG, 5000, &ignored))
        return std::string();
    return Utf8(text);
}

int ComboSelection(HWND dialog, int controlId)
{
    DWORD_PTR selection = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, controlId), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
    return static_cast<int>(static_cast<LRESULT>(selection));
}

struct DialogSearch {
    const std::vector<std::string>* captions;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM lParam)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || ClassName(window) != "#32770")
        return TRUE;
    const std::vector<std::string>& captions = *search->captions;
    if (captions.empty() || std::find(captions.begin(), captions.end(), WindowText(window)) != captions.end())
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> OpenDialogs(const std::vector<std::string>& captions)
{
    DialogSearch search{&captions, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- Watching the module's calls ----------------------------------------------------------------

// Points the module's import of `function` from `dll` at `replacement`; returns the previous
// target (null when the module does not import it).
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return nullptr;
    for (const IMAGE_IMPORT_DESCRIPTOR* import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name; ++import) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), dll) != 0)
            continue;
        const IMAGE_THUNK_DATA32* names = reinterpret_cast<const IMAGE_THUNK_DATA32*>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        IMAGE_THUNK_DATA32* addresses = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (names->u1.Ordinal & IMAGE_ORDINAL_FLAG32)
                continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD oldProtection = 0;
            if (!VirtualProtect(&addresses->u1.Function, sizeof(DWORD), PAGE_READWRITE, &oldProtection))
                return nullptr;
            void* previous = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(DWORD), oldProtection, &oldProtection);
            return previous;
        }
    }
    return nullptr;
}

namespace {
// stdcall callees pop their arguments: each refusal takes exactly as many as the call it stands in for.
DWORD Refused()
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}
DWORD WINAPI Refuse1(DWORD) { return Refused(); }
DWORD WINAPI Refuse2(DWORD, DWORD) { return Refused(); }
DWORD WINAPI Refuse3(DWORD, DWORD, DWORD) { return Refused(); }
DWORD WINAPI Refuse4(DWORD, DWORD, DWORD, DWORD) { return Refused(); }
// A registry call answers with its error instead.
DWORD WINAPI Refuse9(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD) { return ERROR_ACCESS_DENIED; }
} // namespace

void* RefuseImport(HMODULE module, const char* dll, const char* function, int arguments)
{
    void* refusal = arguments == 1 ? reinterpret_cast<void*>(Refuse1)
                    : arguments == 2 ? reinterpret_cast<void*>(Refuse2)
                    : arguments == 3 ? reinterpret_cast<void*>(Refuse3)
                    : arguments == 4 ? reinterpret_cast<void*>(Refuse4)
                    : arguments == 9 ? reinterpret_cast<void*>(Refuse9) : nullptr;
    return refusal ? ReplaceImport(module, dll, function, refusal) : nullptr;
}

// ---- Screen readers --------------------------------------------------------------------------

IAccessible* ClientObject(HWND window)
{
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

VARIANT ChildId(LONG id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

namespace {

std::string TakeText(BSTR text)
{
    std::string utf8 = text ? Utf8(std::wstring(text, SysStringLen(text))) : std::string();
    SysFreeString(text);
    return utf8;
}

} // namespace

Heard Hear(IAccessible* object, LONG child)
{
    Heard heard;
    if (!object)
        return heard;
    VARIANT self = ChildId(child);
    VARIANT value;
    VariantInit(&value);
    if (object->get_accRole(self, &value) == S_OK && value.vt == VT_I4)
        heard.role = value.lVal;
    VariantClear(&value);
    if (object->get_accState(self, &value) == S_OK && value.vt == VT_I4)
        heard.state = value.lVal;
    VariantClear(&value);
    BSTR text = nullptr;
    object->get_accName(self, &text);
    heard.name = TakeText(text);
    text = nullptr;
    object->get_accDefaultAction(self, &text);
    heard.action = TakeText(text);
    return heard;
}

Heard HearWindow(HWND window)
{
    IAccessible* object = ClientObject(window);
    Heard heard = Hear(object);
    if (object)
        object->Release();
    return heard;
}

// ---- Other programs ----------------------------------------------------------------------------

bool MessengerProgram::Start(const char* arguments)
{
    char path[MAX_PATH];
    if (!sandbox::FileBesideProgram("orvl_messenger.exe", path))
        return false;
    std::string command = std::string("orvl_messenger.exe ") + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    return WaitUntil([&] { return (window = Find()) != nullptr; }, 30000);
}

HWND MessengerProgram::Find() const
{
    HWND candidate = nullptr;
    while ((candidate = FindWindowExA(nullptr, candidate, "MSBLClass", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(candidate, &owner);
        if (owner == process.dwProcessId)
            return candidate;
    }
    return nullptr;
}

bool MessengerProgram::Running() const
{
    return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

MessengerProgram::~MessengerProgram()
{
    if (!process.hProcess)
        return;
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace rig
