#include "sandbox/messenger/tour.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <commctrl.h>
#include <prsht.h>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace sandbox {

namespace {

const char HookInstalledEventName[] = "Orvella Hook Installed";
const char ProductMenuCaption[] = "Orvella";
const char DialogClass[] = "#32770";
const char MenuPopupClass[] = "#32768";

// The demo fixture's profiles and the report each one gives.
struct ReportStep { const char* profile; const char* step; };
const ReportStep Reports[] = {
    {"Exchange (Office)", "report-exchange"},
    {"Personal Folders", "report-not-exchange"},
    {"Broken profile", "report-logon-error"},
};

const UINT TickMs = 50;
const DWORD InjectionTimeoutMs = 90000;   // the host starts slowly under emulation
const DWORD WindowTimeoutMs = 20000;
const DWORD LogonTimeoutMs = 30000;       // MAPI logon through the provider stand-in
const DWORD HelpTimeoutMs = 30000;
const DWORD BrowserTimeoutMs = 40000;     // a new Wine process
const DWORD CloseTimeoutMs = 10000;
const DWORD ScreenshotTimeoutMs = 30000;
const DWORD SettleMs = 700;               // painting lags behind under emulation
const DWORD TourTimeoutMs = 4 * 60 * 1000;  // a full tour takes under a minute
const DWORD ExitGraceMs = 15000;          // after a failure, then the process ends regardless

TourOptions Options;
HWND Messenger = nullptr;
LPVOID MainFiber = nullptr;
LPVOID TourFiber = nullptr;
bool InTour = false;           // the tour fiber is the one running
bool Ended = false;            // the tour fiber has nothing more to do
bool TimedOut = false;         // the whole tour ran too long: every wait gives up
bool Closing = false;          // closing leftovers: waits still run
int ExitCode = 1;
DWORD StartTick = 0;
DWORD EndTick = 0;
int StepNumber = 0;
int Warnings = 0;

// ---- Log and handshake files ------------------------------------------------------------------

std::string InFolder(const std::string& name)
{
    return Options.folder + "\\" + name;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::string& path, const char* text, bool append)
{
    HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, lstrlenA(text), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

void Log(const char* format, ...)
{
    char line[1024];
    DWORD elapsed = GetTickCount() - StartTick;
    int used = std::snprintf(line, sizeof(line), "[%3lu.%03lu] ", static_cast<unsigned long>(elapsed / 1000),
                             static_cast<unsigned long>(elapsed % 1000));
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + used, sizeof(line) - used - 2, format, arguments);
    va_end(arguments);
    lstrcatA(line, "\r\n");
    WriteTextFile(InFolder("tour.log"), line, true);
}

void Warn(const char* what)
{
    ++Warnings;
    Log("WARNING: %s", what);
}

// ---- Waiting ----------------------------------------------------------------------------------

// Lets the thread's current message loop run until the next tick.
void LetLoopRun()
{
    SwitchToFiber(MainFiber);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs || (TimedOut && !Closing))
            return condition();
        LetLoopRun();
    }
    return true;
}

void Pause(DWORD milliseconds)
{
    WaitUntil([] { return false; }, milliseconds);
}

// ---- Windows ------------------------------------------------------------------------------------

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    if (IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Visible top-level windows of this thread: everything the module opens inside Messenger.
std::vector<HWND> OwnWindows()
{
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND FindOwnWindow(const std::function<bool(HWND)>& match)
{
    for (HWND window : OwnWindows())
        if (match(window))
            return window;
    return nullptr;
}

bool IsSheet(HWND window)
{
    return ClassOf(window) == DialogClass && SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0) != 0;
}

bool IsAboutDialog(HWND window)
{
    return ClassOf(window) == DialogClass && GetDlgItem(window, IDC_VERSION_TEXT) != nullptr;
}

bool MenuDropped()
{
    return FindOwnWindow([](HWND window) { return ClassOf(window) == MenuPopupClass; }) != nullptr;
}

bool InMenuMode()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetCurrentThreadId(), &info) && (info.flags & GUI_INMENUMODE);
}

bool IsHelpViewer(HWND window)
{
    return ClassOf(window) == "HH Parent";
}

// The browser stand-in's window, by its class or else its title.
HWND FindBrowserWindow()
{
    HWND window = FindWindowA("OrvlBrowserStandIn", nullptr);
    if (!window)
        window = FindWindowA(nullptr, "Browser stand-in");
    return window && IsWindowVisible(window) ? window : nullptr;
}

bool ProductMenuInstalled()
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, HookInstalledEventName);
    if (!event)
        return false;
    CloseHandle(event);
    return sandbox::HasMenuPopup(Messenger, ProductMenuCaption);
}

bool WaitForClose(HWND window, DWORD timeoutMs = CloseTimeoutMs)
{
    return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

// Waits for the window that `find` finds, up to timeoutMs; null when none came.
HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = find()) != nullptr; }, timeoutMs);
    return window;
}

HWND WaitForOwnWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs)
{
    return WaitForWindow([&] { return FindOwnWindow(match); }, timeoutMs);
}

// Chooses a command in Messenger (posted: what it opens runs in the main loop) and waits for the
// window it opens.
HWND OpenWithCommand(UINT command, const std::function<HWND()>& find, DWORD timeoutMs)
{
    PostMessageA(Messenger, WM_COMMAND, command, 0);
    return WaitForWindow(find, timeoutMs);
}

HWND OpenOwnWithCommand(UINT command, bool (*match)(HWND), DWORD timeoutMs)
{
    return OpenWithCommand(command, [match] { return FindOwnWindow(match); }, timeoutMs);
}

// Posts `message` to the window and waits until it is gone; `what` names it in the log.
bool CloseWith(HWND window, UINT message, WPARAM wParam, const char* what)
{
    PostMessageA(window, message, wParam, 0);
    if (!WaitForClose(window)) {
        Log("%s did not close", what);
        return false;
    }
    return true;
}

void RepaintAll()
{
    for (HWND window : OwnWindows())
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// ---- Screenshots --------------------------------------------------------------------------------

// Announces a view to the script and waits until it has taken the picture.
bool Shoot(const char* name)
{
    ++StepNumber;
    char base[96];
    std::snprintf(base, sizeof(base), "step-%02d-%s", StepNumber, name);
    RepaintAll();
    Pause(SettleMs);
    std::string ready = InFolder(std::string(base) + ".ready");
    std::string done = InFolder(std::string(base) + ".done");
    if (!WriteTextFile(ready, "", false)) {
        Log("cannot write %s", ready.c_str());
        return false;
    }
    Log("%s: on screen, waiting for the picture", base);
    if (!WaitUntil([&done] { return FileExists(done); }, ScreenshotTimeoutMs)) {
        Log("%s: no picture was taken within %lu s", base, static_cast<unsigned long>(ScreenshotTimeoutMs / 1000));
        return false;
    }
    return true;
}

// Takes the picture of an open window, then closes it (see CloseWith).
bool ShootAndClose(HWND window, const char* picture, UINT message, WPARAM wParam, const char* what)
{
    bool shot = Shoot(picture);
    return CloseWith(window, message, wParam, what) && shot;
}

// A view that a Messenger command opens, and how it is closed once photographed.
struct View {
    UINT command;
    bool (*match)(HWND window);
    DWORD timeoutMs;
    const char* picture;
    UINT closeMessage;
    WPARAM closeWParam;
    const char* what;   // names it in the log
};

// Opens the view, photographs it and closes it. Help and About come from other parts that may be
// unfinished: a view that does not appear is a warning, not a failure of the tour.
bool ShowOptionalView(const View& view)
{
    HWND window = OpenOwnWithCommand(view.command, view.match, view.timeoutMs);
    if (!window) {
        Warn((std::string(view.what) + " did not appear").c_str());
        return true;
    }
    return ShootAndClose(window, view.picture, view.closeMessage, view.closeWParam, view.what);
}

// ---- Closing what is open -----------------------------------------------------------------------

// Closes the innermost window first: the last one found that is enabled (a modal window's owner
// is disabled).
void CloseLeftovers()
{
    EndMenu();
    DWORD start = GetTickCount();
    while (GetTickCount() - start < CloseTimeoutMs) {
        HWND open = nullptr;
        for (HWND window : OwnWindows())
            if (window != Messenger && IsWindowEnabled(window))
                open = window;
        if (HWND browser = FindBrowserWindow())
            PostMessageA(browser, WM_CLOSE, 0, 0);
        if (!open)
            return;
        Log("closing leftover window of class %s", ClassOf(open).c_str());
        if (IsSheet(open))
            PostMessageA(open, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        else if (ClassOf(open) == DialogClass)
            PostMessageA(open, WM_COMMAND, GetDlgItem(open, IDOK) ? IDOK : IDCANCEL, 0);
        else
            PostMessageA(open, WM_CLOSE, 0, 0);
        WaitForClose(open, 2000);
    }
}

// ---- The steps ------------------------------------------------------------------------------

bool WaitForInjection()
{
    Log("waiting for the add-in host to inject OrvlHook.dll");
    if (!WaitUntil(ProductMenuInstalled, InjectionTimeoutMs)) {
        Log("the \"%s\" menu did not appear in Messenger's menu bar", ProductMenuCaption);
        return false;
    }
    Log("OrvlHook is installed: the menu bar has \"%s\"", ProductMenuCaption);
    return true;
}

// Drops the product popup down from the menu bar the way the keyboard does: Alt (SC_KEYMENU)
// selects the bar, End moves to its last item, Down opens it. Posted keys reach the menu's own
// loop, which this timer keeps running in.
bool ShowProductMenu()
{
    SetForegroundWindow(Messenger);
    PostMessageA(Messenger, WM_SYSCOMMAND, SC_KEYMENU, 0);
    if (!WaitUntil(InMenuMode, 5000))
        Log("menu mode not reported; trying the keys anyway");
    PostMessageA(Messenger, WM_KEYDOWN, VK_END, 0);
    Pause(300);
    PostMessageA(Messenger, WM_KEYDOWN, VK_DOWN, 0);
    if (!WaitUntil(MenuDropped, 5000)) {
        Log("the \"%s\" popup did not drop down", ProductMenuCaption);
        EndMenu();
        return false;
    }
    bool shot = Shoot("menu");
    EndMenu();
    if (!WaitUntil([] { return !MenuDropped() && !InMenuMode(); }, 5000)) {
        Log("the menu did not close");
        return false;
    }
    return shot;
}

// Selects a profile as the user would: the profile-logon radio button, then the list entry with
// the change notification the page listens for.
bool SelectProfile(HWND page, const char* profile)
{
    HWND radio = GetDlgItem(page, IDC_PROFILE_LOGON);
    HWND list = GetDlgItem(page, IDC_PROFILE_LIST);
    if (!radio || !list) {
        Log("the Logon page has no profile controls");
        return false;
    }
    // Never click it disabled: Wine's auto radio button then looks for itself among the enabled
    // buttons of its group for ever.
    if (!IsWindowEnabled(radio)) {
        Log("profile logon is disabled: no MAPI profiles are listed (is the demo fixture written?)");
        return false;
    }
    if (SendMessageA(radio, BM_GETCHECK, 0, 0) != BST_CHECKED)
        SendMessageA(radio, BM_CLICK, 0, 0);
    LRESULT index = SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(profile));
    if (index == CB_ERR) {
        Log("profile \"%s\" is not in the list (is the demo fixture written?)", profile);
        return false;
    }
    SendMessageA(list, CB_SETCURSEL, index, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_PROFILE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    return true;
}

bool TestLogonReport(HWND sheet, HWND page, const ReportStep& report)
{
    if (!SelectProfile(page, report.profile))
        return false;
    HWND button = GetDlgItem(page, IDC_TEST_LOGON);
    if (!button || !IsWindowEnabled(button)) {
        Log("\"Test logon\" is missing or disabled");
        return false;
    }
    Log("test logon with \"%s\"", report.profile);
    // Posted: the report box is modal and must run in the main loop, not inside the tour.
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND box = WaitForOwnWindow([sheet](HWND window) {
        return window != sheet && ClassOf(window) == DialogClass && !IsSheet(window);
    }, LogonTimeoutMs);
    if (!box) {
        Log("no report box appeared for \"%s\"", report.profile);
        return false;
    }
    return ShootAndClose(box, report.step, WM_COMMAND, IDOK, "the report box");
}

bool ShowSettings()
{
    HWND sheet = OpenOwnWithCommand(IDM_SETTINGS, IsSheet, WindowTimeoutMs);
    if (!sheet) {
        Log("the settings sheet did not open");
        return false;
    }
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    Log("the settings sheet is open");
    bool ok = page && SelectProfile(page, Reports[0].profile) && Shoot("settings");
    size_t reportCount = Options.brief ? 1 : sizeof(Reports) / sizeof(Reports[0]);
    for (size_t i = 0; ok && i < reportCount; ++i)
        ok = TestLogonReport(sheet, page, Reports[i]);
    if (!ok)
        return false;
    // Cancel: the tour's choices are not kept.
    return CloseWith(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, "the settings sheet");
}

bool ShowHelp()
{
    return ShowOptionalView({IDM_HELP, IsHelpViewer, HelpTimeoutMs, "help", WM_CLOSE, 0, "the help viewer"});
}

bool ShowAbout()
{
    return ShowOptionalView({IDM_ABOUT, IsAboutDialog, WindowTimeoutMs, "about", WM_COMMAND, IDOK, "the About dialog"});
}

// The homepage, too, may be unfinished: a browser that does not come is a warning.
bool ShowHomepage()
{
    HWND browser = OpenWithCommand(IDM_HOMEPAGE, FindBrowserWindow, BrowserTimeoutMs);
    if (!browser) {
        Warn("the browser stand-in did not show the homepage (is its \"Show\" setting 1?)");
        return true;
    }
    bool shot = Shoot("homepage");
    PostMessageA(browser, WM_CLOSE, 0, 0);
    if (!WaitUntil([] { return FindBrowserWindow() == nullptr; }, CloseTimeoutMs))
        Warn("the browser stand-in did not close");
    return shot;
}

bool RunSteps()
{
    if (!WaitForInjection() || !ShowProductMenu() || !ShowSettings())
        return false;
    if (!Options.brief && !ShowHelp())
        return false;
    if (!ShowAbout())
        return false;
    if (!Options.brief && !ShowHomepage())
        return false;
    return true;
}

void CALLBACK RunTour(LPVOID)
{
    Log("tour started (%s), ANSI code page %u", Options.brief ? "brief" : "full", GetACP());
    if (RunSteps()) {
        Log("tour finished: %d pictures, %d warnings", StepNumber, Warnings);
        WriteTextFile(InFolder("tour.finished"), "", false);
        ExitCode = 0;
    } else {
        Log("tour FAILED; closing what is open");
        Closing = true;
        CloseLeftovers();
        ExitCode = 1;
    }
    Ended = true;
    EndTick = GetTickCount();
    // Posted: the window is destroyed by the main loop, not from inside the tour.
    PostMessageA(Messenger, WM_CLOSE, 0, 0);
    for (;;)
        LetLoopRun();  // a fiber must never return
}

// A thread timer: every message loop on this thread dispatches it, modal ones included.
void CALLBACK TourTick(HWND, UINT, UINT_PTR, DWORD)
{
    if (InTour)
        return;  // a loop the tour itself entered: it resumes once that returns
    DWORD now = GetTickCount();
    if (Ended) {
        if (ExitCode != 0 && now - EndTick > ExitGraceMs)
            ExitProcess(ExitCode);  // something refused to close: end regardless
        return;
    }
    if (!TimedOut && now - StartTick > TourTimeoutMs) {
        Log("tour timed out after %lu s", static_cast<unsigned long>(TourTimeoutMs / 1000));
        TimedOut = true;  // the tour's current wait gives up and it closes what is open
    }
    InTour = true;
    SwitchToFiber(TourFiber);
    InTour = false;
}

} // namespace

bool StartTour(HWND messenger, const TourOptions& options)
{
    Options = options;
    Messenger = messenger;
    StartTick = GetTickCount();
    DeleteFileA(InFolder("tour.finished").c_str());
    DeleteFileA(InFolder("tour.log").c_str());
    MainFiber = ConvertThreadToFiber(nullptr);
    if (!MainFiber) {
        Log("ConvertThreadToFiber failed (%lu)", GetLastError());
        return false;
    }
    TourFiber = CreateFiber(256 * 1024, RunTour, nullptr);
    if (!TourFiber || !SetTimer(nullptr, 0, TickMs, TourTick)) {
        Log("cannot start the tour (%lu)", GetLastError());
        return false;
    }
    return true;
}

int TourExitCode()
{
    return Ended ? ExitCode : 1;
}

} // namespace sandbox
