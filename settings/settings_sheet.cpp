// The modal "Orvella Settings" sheet with its one Logon page, inside a MAPI initialisation
// bracket that the page's profile list and the test logon rely on.
#include "settings/settings_sheet.h"
#include "host/module.h"
#include "mapi/mapi_subset.h"
#include "res/resource.h"
#include "settings/logon_page.h"
#include "host/wait_cursor.h"

#include <commctrl.h>
#include <cstddef>

void InitMapi()
{
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NO_COINIT};
    HRESULT result = MAPIInitialize(&init);
    if (result == MAPI_E_UNKNOWN_FLAGS) {
        init.ulFlags &= ~MAPI_NO_COINIT;  // older MAPI does not know MAPI_NO_COINIT
        result = MAPIInitialize(&init);
    }
    if (FAILED(result))
        MAPIInitialize(nullptr);
}

void UninitMapi()
{
    MAPIUninitialize();
}

namespace {
// The version 2 record sizes (the system headers' size macros do not compile here); the wide
// records have the same layout as the ANSI ones.
const DWORD PageRecordSize = 48;    // PROPSHEETPAGEW_V2_SIZE
const DWORD SheetHeaderSize = 52;   // PROPSHEETHEADERW_V2_SIZE
static_assert(offsetof(PROPSHEETPAGEW, pcRefParent) + sizeof(UINT*) + 2 * sizeof(LPCWSTR) == PageRecordSize, "page record");
static_assert(offsetof(PROPSHEETHEADERW, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK) + 3 * sizeof(HANDLE)
              == SheetHeaderSize, "sheet header");

// One sheet at a time. Messenger's window is disabled while the sheet shows, but the command can
// still be sent or posted to it; a second sheet would take the one page object's window handles
// from under the first, and the first would then save empty controls.
bool SheetRequested = false;  // from the start of ShowSettingsSheet until it returns
HWND OpenSheet = nullptr;     // the sheet's window once it is made, until it has closed

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED)
        OpenSheet = sheet;
    return 0;
}
}

void ShowSettingsSheet(HWND owner)
{
    if (SheetRequested) {
        BringOpenWindowForward(OpenSheet);  // still null while the sheet is being made
        return;
    }
    SheetRequested = true;

    // Wide records: the sheet and its page are made from the templates and strings as written,
    // so Russian reads right on any ANSI code page.
    PROPSHEETPAGEW page = {};
    page.dwSize = PageRecordSize;
    page.dwFlags = PSP_USETITLE | PSP_HASHELP;
    page.hInstance = ModuleInstance;
    page.pszTemplate = LocalizedResourceW(IDD_LOGON_PAGE);
    page.pszTitle = LocalizedResourceW(IDS_PAGE_TITLE);
    page.pfnDlgProc = LogonPageProc;

    PROPSHEETHEADERW header = {};
    header.dwSize = SheetHeaderSize;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_HASHELP | PSH_NOCONTEXTHELP | PSH_USECALLBACK;
    header.hwndParent = owner;
    header.hInstance = ModuleInstance;
    header.pszCaption = LocalizedResourceW(IDS_SHEET_CAPTION);
    header.nPages = 1;
    header.nStartPage = 0;
    header.ppsp = &page;
    header.pfnCallback = SheetCallback;

    InitCommonControls();
    {
        WaitCursor wait;  // MAPI's start can take a second or more
        InitMapi();
    }
    PropertySheetW(&header);
    OpenSheet = nullptr;
    {
        WaitCursor wait;
        UninitMapi();
    }
    SheetRequested = false;
}
