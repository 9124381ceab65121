// The modal About dialog: version text and two static labels that look and act like links.
#include "about/about_dialog.h"
#include "about/links.h"
#include "host/module.h"
#include "res/resource.h"

namespace {

const int LabelTextCapacity = 300;
const COLORREF LinkColour = RGB(0, 0, 255);

// Made at the first opening and kept for the process: later openings reuse it.
HFONT LinkFont = nullptr;
LOGFONTA LinkFontDescription;
// Loaded at each opening, destroyed at each close.
HCURSOR HandCursor = nullptr;

// cppcheck-suppress constParameter ; HWND is an opaque handle, not a pointer to our data
bool IsLinkLabel(HWND dialog, HWND window)
{
    return window && (window == GetDlgItem(dialog, IDC_SUPPORT_LINK) || window == GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
}

// A small underlined Swiss font, for a dialog without a readable font of its own.
void MakeFallbackLinkFont(HWND dialog, int controlId)
{
    ZeroMemory(&LinkFontDescription, sizeof(LinkFontDescription));
    LinkFontDescription.lfHeight = 13;
    LinkFontDescription.lfWeight = 200;
    LinkFontDescription.lfUnderline = 1;
    LinkFontDescription.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    LinkFont = CreateFontIndirectA(&LinkFontDescription);
    if (LinkFont)
        SendDlgItemMessageA(dialog, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(LinkFont), TRUE);
}

void InitAboutDialog(HWND dialog)
{
    SetLinkFont(dialog, IDC_SUPPORT_LINK);
    SetLinkFont(dialog, IDC_HOMEPAGE_LINK);
    SubclassLinkLabel(GetDlgItem(dialog, IDC_SUPPORT_LINK));
    SubclassLinkLabel(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));

    wchar_t version[VersionTextCapacity];
    GetVersionText(version);
    SetDlgItemTextW(dialog, IDC_VERSION_TEXT, version);

    if (!HandCursor)
        HandCursor = LoadCursorA(nullptr, IDC_HAND);
    if (!HandCursor)
        HandCursor = LoadCursorA(ModuleInstance, MAKEINTRESOURCEA(IDC_LINK_HAND));
}

void CloseAboutDialog(HWND dialog)
{
    EndDialog(dialog, 1);
    if (HandCursor)
        DestroyCursor(HandCursor);
    HandCursor = nullptr;
}

void HandleCommand(HWND dialog, WPARAM wParam)
{
    int controlId = LOWORD(wParam);
    if (HIWORD(wParam) == STN_DBLCLK) {
        if (controlId == IDC_SUPPORT_LINK)
            OpenLink(IDS_SUPPORT_ADDRESS, dialog);
        else if (controlId == IDC_HOMEPAGE_LINK)
            OpenHomepage(dialog);
        return;
    }
    // Only OK closes: Escape (IDCANCEL) leaves the dialog open.
    if (controlId == IDOK)
        CloseAboutDialog(dialog);
}

} // namespace

INT_PTR ShowAboutDialog(HWND owner)
{
    // Made from the template as written, so Russian reads right on any ANSI code page.
    return DialogBoxParamW(ModuleInstance, LocalizedResourceW(IDD_ABOUT), owner, AboutDialogProc, 0);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitAboutDialog(dialog);
        return TRUE;
    case WM_SETCURSOR:
        if (!IsLinkLabel(dialog, reinterpret_cast<HWND>(wParam)))
            return FALSE;
        SetCursor(HandCursor);
        SetWindowLongA(dialog, DWL_MSGRESULT, 1);
        return TRUE;
    case WM_COMMAND:
        HandleCommand(dialog, wParam);
        return FALSE;
    case WM_CLOSE:
        CloseAboutDialog(dialog);
        return FALSE;
    default:
        return FALSE;
    }
}

LRESULT CALLBACK LinkLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongW(label, GWL_USERDATA));
    if (!previous)
        return 0;
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(label, &paint);
        if (dc) {
            wchar_t text[LabelTextCapacity] = L"";
            int length = GetWindowTextW(label, text, LabelTextCapacity);
            SetTextColor(dc, LinkColour);
            SetBkMode(dc, TRANSPARENT);
            HGDIOBJ replaced = SelectObject(dc, LinkFont);
            TextOutW(dc, 0, 0, text, length);
            if (replaced)
                SelectObject(dc, replaced);
        }
        EndPaint(label, &paint);
        // The label has painted and validated itself; its own procedure still sees WM_PAINT.
    }
    return CallWindowProcW(previous, label, message, wParam, lParam);
}

// A wide subclass: text messages to the label pass through without an ANSI round trip.
void SubclassLinkLabel(HWND label)
{
    LONG previous = GetWindowLongW(label, GWL_WNDPROC);
    if (!previous)
        return;
    SetWindowLongW(label, GWL_USERDATA, previous);
    SetWindowLongW(label, GWL_WNDPROC, reinterpret_cast<LONG>(LinkLabelProc));
}

void SetLinkFont(HWND dialog, int controlId)
{
    if (LinkFont) {
        SendDlgItemMessageA(dialog, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(LinkFont), FALSE);
        return;
    }
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    if (!dialogFont || GetObjectA(dialogFont, sizeof(LinkFontDescription), &LinkFontDescription) != sizeof(LinkFontDescription)) {
        MakeFallbackLinkFont(dialog, controlId);
        return;
    }
    LinkFontDescription.lfUnderline = 1;
    LinkFont = CreateFontIndirectA(&LinkFontDescription);
    if (!LinkFont)
        return;  // the next label tries again
    SendDlgItemMessageA(dialog, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(LinkFont), FALSE);
}
