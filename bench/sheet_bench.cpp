// The settings sheet: from WM_COMMAND IDM_SETTINGS sent to Messenger's window to the sheet being
// shown with its Logon page loaded (100 profiles in the MAPI provider stand-in), against a bare
// PropertySheetW with the same page template from OrvlHook.dll, a dialog procedure that does
// nothing and no MAPI. A third sheet, for context, is the bare one whose page does what the
// module's page does when it loads (settings, list, controls; twice), with a ready list of the
// same names instead of MAPI: the module's sheet less that one is MAPI's time.
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

HMODULE module = nullptr;
HWND messenger = nullptr;
// comctl32.dll's PropertySheetW, as the module loaded it and calls it (this program does not import comctl32,
// like the Messenger stand-in).
using PropertySheetFunction = INT_PTR(WINAPI*)(LPCPROPSHEETHEADERW);
PropertySheetFunction propertySheet = nullptr;

void OpenModuleSheet()
{
    SendMessageA(messenger, WM_COMMAND, IDM_SETTINGS, 0);
}

// The page's own work when it loads, with a ready list of the same 100 names instead of MAPI:
// the stored settings read, the list filled, the controls set, as the module's page does it.
void LoadPageWithoutMapi(HWND page)
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
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < ProfileCount; ++i)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Format("Profile %03d", i).c_str()));
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    SetDlgItemTextA(page, IDC_PASSWORD, password);
    CheckRadioButton(page, IDC_AUTO_LOGON, IDC_PROFILE_LOGON, autoLogon ? IDC_AUTO_LOGON : IDC_PROFILE_LOGON);
    EnableWindow(GetDlgItem(page, IDC_TEST_LOGON), autoLogon == 0);
    EnableWindow(list, autoLogon == 0);
    EnableWindow(GetDlgItem(page, IDC_PASSWORD), autoLogon == 0);
    EnableWindow(GetDlgItem(page, IDC_PROFILE_LOGON), TRUE);
}

// Loads like the module's page: at WM_INITDIALOG and again at PSN_SETACTIVE.
INT_PTR CALLBACK ListPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        LoadPageWithoutMapi(page);
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        LoadPageWithoutMapi(page);
        SendMessageA(GetParent(page), PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
    }
    return FALSE;
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

// ---- What the module's sheet does on top of the bare one, timed piece by piece ----------------

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

// The MAPI work of one page load, done by this program into a hidden copy of the page's combo
// box, each call timed: which calls the provider's time goes to.
class SheetParts {
public:
    bool Start()
    {
        if (!mapi.Load())
            return false;
        page = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_LOGON_PAGE), messenger, TrivialPageProc, 0);
        combo = GetDlgItem(page, IDC_PROFILE_LIST);
        return combo != nullptr;
    }

    // One MAPI bracket around one profile-table read and one fill of the combo box.
    bool Measure()
    {
        MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS | 0x00000008 /* MAPI_NO_COINIT */};
        LONGLONG start = Ticks();
        mapi.initialize(&init);
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
    Mapi mapi;
    HWND page = nullptr;
    HWND combo = nullptr;
    std::vector<std::string> names;
    std::vector<double> bracket, table, fill, calls[TableCallCount];
};

} // namespace

int RunSheetBenchmarks(int rounds)
{
    if (!MapiFixture::Clear()) {
        std::printf("ERROR|cannot clear the MAPI fixture\n");
        return 1;
    }
    for (int i = 0; i < ProfileCount; ++i)
        if (MapiFixture::AddProfile(Format("Profile %03d", i), i == 0) < 0) {
            std::printf("ERROR|cannot write the MAPI fixture\n");
            return 1;
        }
    module = LoadModule();
    messenger = module ? CreateMessenger() : nullptr;
    if (!messenger) {
        std::printf("ERROR|no module or no Messenger window\n");
        return 1;
    }
    Pump(300);
    if (!Handshake(module) || ProductPopups(messenger) != 1) {
        std::printf("ERROR|the handshake did not install the module\n");
        return 1;
    }
    Pump(300);
    HMODULE commonControls = GetModuleHandleA("comctl32.dll");
    propertySheet = commonControls ? reinterpret_cast<PropertySheetFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(commonControls, "PropertySheetW")))
                                   : nullptr;
    if (!propertySheet) {
        std::printf("ERROR|comctl32.dll's PropertySheetW not found\n");
        return 1;
    }
    cbtHook = SetWindowsHookExA(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
    messageHook = SetWindowsHookExA(WH_GETMESSAGE, WatchReady, nullptr, GetCurrentThreadId());
    if (!cbtHook || !messageHook) {
        std::printf("ERROR|no CBT or message hook\n");
        return 1;
    }

    // The first opening in the process, then one of each other sheet: not counted.
    double firstModule = TimeSheet(OpenModuleSheet, ProfileCount);
    double firstBare = TimeSheet(OpenBareSheet, 0);
    double firstList = TimeSheet(OpenListSheet, ProfileCount);
    if (firstModule < 0 || firstBare < 0 || firstList < 0) {
        std::printf("ERROR|a sheet did not open as expected\n");
        return 1;
    }

    std::vector<double> moduleUs, bareUs, listUs, ratios, listRatios, mapiInSheet;
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        // The three sheets in rotating order.
        double mine = -1, bare = -1, listed = -1;
        for (int turn = 0; turn < 3; ++turn) {
            switch ((round + turn) % 3) {
            case 0: mine = TimeSheet(OpenModuleSheet, ProfileCount); break;
            case 1: bare = TimeSheet(OpenBareSheet, 0); break;
            case 2: listed = TimeSheet(OpenListSheet, ProfileCount); break;
            }
        }
        if (mine < 0 || bare < 0 || listed < 0) {
            ++failures;
            continue;
        }
        moduleUs.push_back(mine);
        bareUs.push_back(bare);
        listUs.push_back(listed);
        ratios.push_back(mine / bare);
        listRatios.push_back(listed / bare);
        mapiInSheet.push_back(mine - listed);
        Info("sheet round %d: module %.0f us, bare %.0f us, ready list %.0f us; module / bare %.2f", round + 1, mine,
             bare, listed, mine / bare);
    }
    UnhookWindowsHookEx(cbtHook);
    UnhookWindowsHookEx(messageHook);
    if (moduleUs.empty()) {
        std::printf("ERROR|no sheet measurement succeeded\n");
        return 1;
    }
    Info("sheet: %d rounds, %d failed; first openings: module %.0f us, bare %.0f us", rounds, failures, firstModule,
         firstBare);

    double ratio = Median(ratios);
    Row("4 Settings sheet", Format("module's sheet with %d profiles, to ready (median)", ProfileCount),
        Format("%.1f ms", Median(moduleUs) / 1000.0));
    Row("4 Settings sheet", "bare PropertySheetW, same page template (median)", Format("%.1f ms", Median(bareUs) / 1000.0));
    Row("4 Settings sheet", "module / bare (median of rounds)",
        Format("%.2f (rounds %.2f..%.2f)", ratio, Minimum(ratios), Maximum(ratios)), "<= 1.5", Judge(ratio, 1.5));
    Row("4 Settings sheet", "the page's own loading (twice) with a ready list instead of MAPI, / bare (median of "
                            "rounds, context)",
        Format("%.2f (%.1f ms; rounds %.2f..%.2f)", Median(listRatios), Median(listUs) / 1000.0, Minimum(listRatios),
               Maximum(listRatios)));
    Row("4 Settings sheet", "module's sheet - the ready-list sheet: MAPI's time in the module's sheet (median of "
                            "rounds, context)",
        Format("%.1f ms", Median(mapiInSheet) / 1000.0));
    Row("4 Settings sheet", "first opening in the process, not counted (context)",
        Format("module %.1f ms, then bare %.1f ms", firstModule / 1000.0, firstBare / 1000.0));
    SheetParts parts;
    if (parts.Start()) {
        for (int repeat = 0; repeat < 5; ++repeat)
            parts.Measure();
        parts.Stop();
        parts.Report();
    }
    return failures ? 1 : 0;
}

} // namespace bench
