// The settings sheet: from WM_COMMAND IDM_SETTINGS sent to Messenger's window to the sheet being
// shown with its Logon page loaded (100 profiles in the MAPI provider stand-in), against bare
// PropertySheetW calls. This file mirrors the module's sheet and page records on purpose (same
// template from OrvlHook.dll, flags, caption, title), and what its page does when it loads;
// the references differ from the module's sheet only in what their page does:
//   MAPI once    the page lists the same profiles once through MAPI (the module's ordinals,
//                inside the same MAPI bracket) and sets its controls: what showing the profiles
//                takes at the least;
//   bare         a dialog procedure that does nothing, and no MAPI;
//   ready list   (context) the page does what the module's page does when it loads (settings,
//                list, controls), twice, with a ready list of the same names instead of MAPI:
//                the module's sheet less that one is MAPI's time.
// The stand-in is made quiet first (MapiFixture::SetQuiet): it reads its fixture once and writes
// no log file, so its own registry and file work is not timed; "logging" leaves it logging every
// call to a file, for comparison.
// Each is timed from the call to the moment the sheet's modal loop takes its first message after
// the sheet was activated (a WH_CBT hook sees HCBT_ACTIVATE and posts a probe; a WH_GETMESSAGE
// hook sees the probe retrieved, checks the page and posts Cancel); the rounds rotate the order.
// Afterwards the MAPI calls of one page load are timed one by one. All on one thread: the modal
// loops run the hooks, nothing else touches their windows.
#include "bench/bench_modes.h"
#include "bench/bench.h"
#include "res/resource.h"
#include "sandbox/mapi_provider/mapi_fixture.h"

#include <commctrl.h>
#include <mapix.h>
#include <mapidefs.h>
#include <mapitags.h>
#include <mapiutil.h>

#include <cstdio>

namespace bench {

namespace {

const int ProfileCount = 100;
const DWORD SheetTimeoutMs = 30000;

// What the hooks saw of the sheet.
struct Watch {
    bool armed = false;
    bool probePosted = false;
    LONGLONG readyAt = 0;
    HWND sheet = nullptr;
    bool pageLoaded = false;
    LRESULT profilesListed = -1;
    bool timedOut = false;
};
Watch watch;
HHOOK cbtHook = nullptr;
HHOOK messageHook = nullptr;
// Posted to this thread when the sheet is activated; retrieved by the sheet's modal loop.
const UINT ReadyProbe = WM_APP + 0x300;

// Wine activates the sheet while creating it, before its page: the activation only says that
// the sheet is there. A message posted then is retrieved when everything that PropertySheetW
// does before its modal loop (creating and loading the page, activating it) is done.
LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && watch.armed && !watch.probePosted) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[16] = "";
        GetClassNameA(window, className, sizeof(className));
        if (lstrcmpA(className, "#32770") == 0 && GetAncestor(window, GA_PARENT) == GetDesktopWindow()) {
            watch.sheet = window;
            watch.probePosted = PostThreadMessageA(GetCurrentThreadId(), ReadyProbe, 0, 0) != FALSE;
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchReady(int code, WPARAM wParam, LPARAM lParam)
{
    LONGLONG now = Ticks();
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message && message->message == ReadyProbe && !message->hwnd
        && watch.armed && watch.probePosted) {
        watch.armed = false;
        watch.readyAt = now;
        HWND page = reinterpret_cast<HWND>(SendMessageA(watch.sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        watch.pageLoaded = page && IsWindowVisible(watch.sheet) && GetDlgItem(page, IDC_PROFILE_LIST) != nullptr;
        if (page)
            watch.profilesListed = SendDlgItemMessageA(page, IDC_PROFILE_LIST, CB_GETCOUNT, 0, 0);
        PostMessageA(watch.sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
    return CallNextHookEx(messageHook, code, wParam, lParam);
}

BOOL CALLBACK CloseDialog(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if (process == GetCurrentProcessId() && lstrcmpA(className, "#32770") == 0) {
        PostMessageA(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// A sheet that never shows is closed, and the measurement fails.
void CALLBACK SheetTimeout(HWND, UINT, UINT_PTR, DWORD)
{
    watch.timedOut = true;
    watch.armed = false;
    EnumWindows(CloseDialog, 0);
}

// Runs `open` (it returns when the sheet has closed); microseconds to the sheet being ready, or -1.
template <typename Open>
double TimeSheet(Open open, LRESULT expectedProfiles)
{
    watch = Watch();
    UINT_PTR timer = SetTimer(nullptr, 0, SheetTimeoutMs, SheetTimeout);
    watch.armed = true;
    LONGLONG start = Ticks();
    open();
    KillTimer(nullptr, timer);
    Pump(50);
    if (watch.timedOut || !watch.readyAt || !watch.pageLoaded || watch.profilesListed != expectedProfiles) {
        Info("sheet: not ready as expected (timed out %d, page %d, %ld profiles listed)", watch.timedOut ? 1 : 0,
             watch.pageLoaded ? 1 : 0, static_cast<long>(watch.profilesListed));
        return -1.0;
    }
    return Microseconds(watch.readyAt - start);
}

INT_PTR CALLBACK TrivialPageProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// ---- MAPI, as the module calls it -------------------------------------------------------------

using MapiInitialize = HRESULT(STDAPICALLTYPE*)(LPVOID);
using MapiUninitialize = void(STDAPICALLTYPE*)();
using MapiAdminProfiles = HRESULT(STDAPICALLTYPE*)(ULONG, LPPROFADMIN*);
using MapiFreeProws = void(STDAPICALLTYPE*)(LPSRowSet);

struct Mapi {
    MapiInitialize initialize = nullptr;
    MapiUninitialize uninitialize = nullptr;
    MapiAdminProfiles adminProfiles = nullptr;
    MapiFreeProws freeProws = nullptr;
    bool Load()
    {
        HMODULE mapi = GetModuleHandleA("mapi32.dll");  // loaded with the module
        if (!mapi)
            return false;
        // The ordinals the module imports.
        initialize = reinterpret_cast<MapiInitialize>(reinterpret_cast<void*>(GetProcAddress(mapi, MAKEINTRESOURCEA(21))));
        uninitialize = reinterpret_cast<MapiUninitialize>(reinterpret_cast<void*>(GetProcAddress(mapi, MAKEINTRESOURCEA(23))));
        adminProfiles = reinterpret_cast<MapiAdminProfiles>(reinterpret_cast<void*>(GetProcAddress(mapi, MAKEINTRESOURCEA(19))));
        freeProws = reinterpret_cast<MapiFreeProws>(reinterpret_cast<void*>(GetProcAddress(mapi, MAKEINTRESOURCEA(140))));
        return initialize && uninitialize && adminProfiles && freeProws;
    }
};

// The profile table read as the page reads it, each call timed; returns the rows' names.
enum TableCall { CallAdminProfiles, CallGetProfileTable, CallSetColumns, CallQueryRows, CallRelease, TableCallCount };
const char* const TableCallNames[TableCallCount] = {
    "MAPIAdminProfiles", "IProfAdmin::GetProfileTable", "IMAPITable::SetColumns", "IMAPITable::QueryRows",
    "FreeProws + Release (table, admin)"};

int ReadProfileTable(const Mapi& mapi, std::vector<std::string>& names, double (&us)[TableCallCount])
{
    names.clear();
    for (double& value : us)
        value = 0.0;
    LONGLONG mark = Ticks();
    auto lap = [&](TableCall call) {
        LONGLONG now = Ticks();
        us[call] += Microseconds(now - mark);
        mark = now;
    };
    LPPROFADMIN admin = nullptr;
    HRESULT result = mapi.adminProfiles(0, &admin);
    lap(CallAdminProfiles);
    if (FAILED(result) || !admin)
        return -1;
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}};
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    bool opened = SUCCEEDED(admin->GetProfileTable(0, &table)) && table;
    lap(CallGetProfileTable);
    bool columnsSet = opened && SUCCEEDED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH));
    lap(CallSetColumns);
    if (columnsSet && SUCCEEDED(table->QueryRows(100, 0, &rows)) && rows) {
        lap(CallQueryRows);
        for (ULONG i = 0; i < rows->cRows; ++i)
            if (rows->aRow[i].cValues > 0 && rows->aRow[i].lpProps[0].ulPropTag == PR_DISPLAY_NAME_A)
                names.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
    }
    mark = Ticks();
    if (rows)
        mapi.freeProws(rows);
    if (table)
        table->Release();
    admin->Release();
    lap(CallRelease);
    return static_cast<int>(names.size());
}

void FillCombo(HWND combo, const std::vector<std::string>& names)
{
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
}

HMODULE module = nullptr;
HWND messenger = nullptr;
Mapi mapi;
std::vector<std::string> readyList;  // the names the fixture holds
// comctl32.dll's PropertySheetW, as the module loaded it and calls it (this program does not import comctl32,
// like the Messenger stand-in).
using PropertySheetFunction = INT_PTR(WINAPI*)(LPCPROPSHEETHEADERW);
PropertySheetFunction propertySheet = nullptr;

void OpenModuleSheet()
{
    SendMessageA(messenger, WM_COMMAND, IDM_SETTINGS, 0);
}

// The page's own work when it loads, as the module's page does it: the stored settings read,
// the list filled with `names`, the controls set.
void LoadPage(HWND page, const std::vector<std::string>& names)
{
    char profile[260] = "", password[260] = "";
    DWORD autoLogon = 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Dorvane Ltd\\Orvella", 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof(profile);
        RegQueryValueExA(key, "Profile", nullptr, nullptr, reinterpret_cast<BYTE*>(profile), &size);
        size = sizeof(password);
        RegQueryValueExA(key, "Password", nullptr, nullptr, reinterpret_cast<BYTE*>(password), &size);
        size = sizeof(autoLogon);
        RegQueryValueExA(key, "AutoLogon", nullptr, nullptr, reinterpret_cast<BYTE*>(&autoLogon), &size);
        RegCloseKey(key);
    }
    HWND list = GetDlgItem(page, IDC_PROFILE_LIST);
    FillCombo(list, names);
    SetDlgItemTextA(page, IDC_PASSWORD, password);
    CheckRadioButton(page, IDC_AUTO_LOGON, IDC_PROFILE_LOGON, autoLogon ? IDC_AUTO_LOGON : IDC_PROFILE_LOGON);
    EnableWindow(GetDlgItem(page, IDC_TEST_LOGON), autoLogon == 0);
    EnableWindow(list, autoLogon == 0);
    EnableWindow(GetDlgItem(page, IDC_PASSWORD), autoLogon == 0);
    EnableWindow(GetDlgItem(page, IDC_PROFILE_LOGON), !names.empty());
}

// Loads like the module's page, at WM_INITDIALOG and again at PSN_SETACTIVE, from the ready list.
INT_PTR CALLBACK ListPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        LoadPage(page, readyList);
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        LoadPage(page, readyList);
        SendMessageA(GetParent(page), PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
    }
    return FALSE;
}

// Lists the profiles once, through MAPI, when the page is made.
INT_PTR CALLBACK MapiPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    std::vector<std::string> names;
    double callUs[TableCallCount];
    ReadProfileTable(mapi, names, callUs);
    LoadPage(page, names);
    return TRUE;
}

DLGPROC barePageProc = TrivialPageProc;

// The module's sheet and page records, with the trivial procedure and nothing else around.
void OpenBareSheet()
{
    PROPSHEETPAGEW page = {};
    page.dwSize = 48;  // the version 2 record, as the module passes it
    page.dwFlags = PSP_USETITLE | PSP_HASHELP;
    page.hInstance = module;
    page.pszTemplate = MAKEINTRESOURCEW(IDD_LOGON_PAGE);
    page.pszTitle = MAKEINTRESOURCEW(IDS_PAGE_TITLE);
    page.pfnDlgProc = barePageProc;
    PROPSHEETHEADERW header = {};
    header.dwSize = 52;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_HASHELP | PSH_NOCONTEXTHELP;
    header.hwndParent = messenger;
    header.hInstance = module;
    header.pszCaption = MAKEINTRESOURCEW(IDS_SHEET_CAPTION);
    header.nPages = 1;
    header.ppsp = &page;
    propertySheet(&header);
}

// The bare sheet whose page does the module's page work with a ready list instead of MAPI.
void OpenListSheet()
{
    barePageProc = ListPageProc;
    OpenBareSheet();
    barePageProc = TrivialPageProc;
}

// The module's MAPI bracket around the sheet (MAPI_NO_COINIT is 0x8), as the module makes it.
void InitMapi()
{
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS | 0x00000008};
    mapi.initialize(&init);
}

// The bare sheet whose page lists the profiles once through MAPI.
void OpenMapiSheet()
{
    barePageProc = MapiPageProc;
    InitMapi();
    OpenBareSheet();
    mapi.uninitialize();
    barePageProc = TrivialPageProc;
}

// The MAPI work of one page load, done by this program into a hidden copy of the page's combo
// box, each call timed: which calls the provider's time goes to.
class SheetParts {
public:
    bool Start()
    {
        page = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_LOGON_PAGE), messenger, TrivialPageProc, 0);
        combo = GetDlgItem(page, IDC_PROFILE_LIST);
        return combo != nullptr;
    }

    // One MAPI bracket around one profile-table read and one fill of the combo box.
    bool Measure()
    {
        LONGLONG start = Ticks();
        InitMapi();
        double initUs = MicrosecondsSince(start);
        start = Ticks();
        double callUs[TableCallCount];
        int listed = ReadProfileTable(mapi, names, callUs);
        table.push_back(MicrosecondsSince(start));
        for (int call = 0; call < TableCallCount; ++call)
            calls[call].push_back(callUs[call]);
        start = Ticks();
        FillCombo(combo, names);
        fill.push_back(MicrosecondsSince(start));
        start = Ticks();
        mapi.uninitialize();
        bracket.push_back(initUs + MicrosecondsSince(start));
        Pump(20);
        return listed == ProfileCount;
    }

    void Stop()
    {
        DestroyWindow(page);
        Pump(20);
    }

    void Report() const
    {
        Info("sheet part: MAPIInitialize + MAPIUninitialize                  %8.0f us", Median(bracket));
        Info("sheet part: profile table read (%d rows)                      %8.0f us", ProfileCount, Median(table));
        Info("sheet part: combo box filled with the %d names                %8.0f us", ProfileCount, Median(fill));
        for (int call = 0; call < TableCallCount; ++call)
            Info("sheet part: profile table read: %-36s %8.0f us", TableCallNames[call], Median(calls[call]));
        Row("4 Settings sheet", "one load of the page's profiles; the sheet loads the page twice, at WM_INITDIALOG "
                                "and PSN_SETACTIVE (median, context)",
            Format("MAPI table read %.1f ms, combo fill %.1f ms; MAPI init + uninit %.1f ms", Median(table) / 1000.0,
                   Median(fill) / 1000.0, Median(bracket) / 1000.0));
    }

private:
    HWND page = nullptr;
    HWND combo = nullptr;
    std::vector<std::string> names;
    std::vector<double> bracket, table, fill, calls[TableCallCount];
};

} // namespace

namespace {

// The sheets timed in each round, in rotating order.
struct Sheet {
    const char* name;
    void (*open)();
    LRESULT profilesListed;
};
enum SheetKind { ModuleSheet, MapiSheet, BareSheet, ListSheet, SheetCount };
const Sheet Sheets[SheetCount] = {
    {"module", OpenModuleSheet, ProfileCount},
    {"MAPI once", OpenMapiSheet, ProfileCount},
    {"bare", OpenBareSheet, 0},
    {"ready list", OpenListSheet, ProfileCount},
};

// The fixture: 100 profiles, "Profile 000" the default; quiet unless the stand-in is to log
// every call to a file.
bool WriteFixture(bool logging)
{
    if (!MapiFixture::Clear())
        return false;
    readyList.clear();
    for (int i = 0; i < ProfileCount; ++i) {
        readyList.push_back(Format("Profile %03d", i));
        if (MapiFixture::AddProfile(readyList.back(), i == 0) < 0)
            return false;
    }
    if (!logging)
        return MapiFixture::SetQuiet(true);
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, folder);
    return length && length < MAX_PATH - 32
           && MapiFixture::SetLogFile(std::string(folder) + "orvl_bench_mapi.log");
}

} // namespace

int RunSheetBenchmarks(int rounds, bool logging)
{
    if (!WriteFixture(logging)) {
        std::printf("ERROR|cannot write the MAPI fixture\n");
        return 1;
    }
    // The provider reads the quiet flag when it is loaded, which is with the module.
    module = LoadModule();
    messenger = module ? CreateMessenger() : nullptr;
    if (!messenger) {
        std::printf("ERROR|no module or no Messenger window\n");
        return 1;
    }
    Pump(300);
    if (!HandshakeInProcess(module) || ProductPopups(messenger) != 1) {
        std::printf("ERROR|the handshake did not install the module\n");
        return 1;
    }
    Pump(300);
    HMODULE commonControls = GetModuleHandleA("comctl32.dll");
    propertySheet = commonControls ? reinterpret_cast<PropertySheetFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(commonControls, "PropertySheetW")))
                                   : nullptr;
    if (!propertySheet || !mapi.Load()) {
        std::printf("ERROR|comctl32.dll's PropertySheetW or mapi32.dll's ordinals not found\n");
        return 1;
    }
    cbtHook = SetWindowsHookExA(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
    messageHook = SetWindowsHookExA(WH_GETMESSAGE, WatchReady, nullptr, GetCurrentThreadId());
    if (!cbtHook || !messageHook) {
        std::printf("ERROR|no CBT or message hook\n");
        return 1;
    }

    // The first opening of each in the process: not counted.
    double first[SheetCount];
    for (int kind = 0; kind < SheetCount; ++kind) {
        first[kind] = TimeSheet(Sheets[kind].open, Sheets[kind].profilesListed);
        if (first[kind] < 0) {
            std::printf("ERROR|the %s sheet did not open as expected\n", Sheets[kind].name);
            return 1;
        }
    }

    std::vector<double> us[SheetCount], overMapi, overBare, listOverBare, mapiInSheet;
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        double took[SheetCount];
        bool complete = true;
        for (int turn = 0; turn < SheetCount; ++turn) {
            int kind = (round + turn) % SheetCount;
            took[kind] = TimeSheet(Sheets[kind].open, Sheets[kind].profilesListed);
            complete = complete && took[kind] >= 0;
        }
        if (!complete) {
            ++failures;
            continue;
        }
        for (int kind = 0; kind < SheetCount; ++kind)
            us[kind].push_back(took[kind]);
        overMapi.push_back(took[ModuleSheet] / took[MapiSheet]);
        overBare.push_back(took[ModuleSheet] / took[BareSheet]);
        listOverBare.push_back(took[ListSheet] / took[BareSheet]);
        mapiInSheet.push_back(took[ModuleSheet] - took[ListSheet]);
        Info("sheet round %d: module %.0f us, MAPI once %.0f us, bare %.0f us, ready list %.0f us; module / MAPI once "
             "%.2f, module / bare %.2f", round + 1, took[ModuleSheet], took[MapiSheet], took[BareSheet],
             took[ListSheet], overMapi.back(), overBare.back());
    }
    UnhookWindowsHookEx(cbtHook);
    UnhookWindowsHookEx(messageHook);
    if (overMapi.empty()) {
        std::printf("ERROR|no sheet measurement succeeded\n");
        return 1;
    }
    Info("sheet: %d rounds, %d failed; MAPI stand-in %s", rounds, failures,
         logging ? "logging every call to a file" : "quiet");

    // The rows of a run with a logging stand-in are context for the quiet run's.
    const std::string benchmark = logging ? "4 Settings sheet, stand-in logging every call" : "4 Settings sheet";
    auto ratio = [](const std::vector<double>& values) {
        return Format("%.2f (rounds %.2f..%.2f)", Median(values), Minimum(values), Maximum(values));
    };
    std::string goal = logging ? std::string() : std::string("<= 1.5");
    auto verdict = [&](const std::vector<double>& values) { return logging ? std::string() : Judge(Median(values), 1.5); };
    Row(benchmark, Format("module's sheet with %d profiles, to ready (median)", ProfileCount),
        Format("%.1f ms", Median(us[ModuleSheet]) / 1000.0));
    Row(benchmark, "bare PropertySheetW whose page lists the same profiles once through MAPI (median)",
        Format("%.1f ms", Median(us[MapiSheet]) / 1000.0));
    Row(benchmark, "bare PropertySheetW, same page template, no MAPI (median)", Format("%.1f ms", Median(us[BareSheet]) / 1000.0));
    Row(benchmark, "module / bare sheet listing the profiles once through MAPI (median of rounds)", ratio(overMapi), goal,
        verdict(overMapi));
    Row(benchmark, "module / bare sheet without MAPI (median of rounds)", ratio(overBare), goal, verdict(overBare));
    if (logging) {
        MapiFixture::Clear();
        return failures ? 1 : 0;
    }
    Row(benchmark, "the page's own loading (twice) with a ready list instead of MAPI, / bare (median of rounds, context)",
        Format("%s; %.1f ms", ratio(listOverBare).c_str(), Median(us[ListSheet]) / 1000.0));
    Row(benchmark, "module's sheet - the ready-list sheet: MAPI's time in the module's sheet (median of rounds, context)",
        Format("%.1f ms", Median(mapiInSheet) / 1000.0));
    Row(benchmark, "first opening in the process, not counted (context)",
        Format("module %.1f ms, then MAPI once %.1f ms, bare %.1f ms", first[ModuleSheet] / 1000.0,
               first[MapiSheet] / 1000.0, first[BareSheet] / 1000.0));
    SheetParts parts;
    if (parts.Start()) {
        for (int repeat = 0; repeat < 5; ++repeat)
            parts.Measure();
        parts.Stop();
        parts.Report();
    }
    MapiFixture::Clear();
    return failures ? 1 : 0;
}

} // namespace bench
