// The modal "Orvella Settings" sheet with its one Logon page, inside a MAPI initialisation
// bracket that the page's profile list and the test logon rely on.
#include "settings/settings_sheet.h"
#include "host/module.h"
#include "mapi/mapi_subset.h"
#include "res/resource.h"
#include "settings/logon_page.h"

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
}

void ShowSettingsSheet(HWND owner)
{
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
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_HASHELP | PSH_NOCONTEXTHELP;
    header.hwndParent = owner;
    header.hInstance = ModuleInstance;
    header.pszCaption = LocalizedResourceW(IDS_SHEET_CAPTION);
    header.nPages = 1;
    header.nStartPage = 0;
    header.ppsp = &page;

    InitCommonControls();
    InitMapi();
    PropertySheetW(&header);
    UninitMapi();
}
