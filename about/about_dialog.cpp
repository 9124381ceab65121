// The modal About dialog: version text and two static labels that look and act like links.
#include "about/about_dialog.h"
#include "about/link_accessible.h"
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
// The box while it is open: another request for it (another add-in, a script) brings this one
// forward instead of opening a second box, whose close would take the hand cursor from this one.
HWND OpenAboutBox = nullptr;
// Set in a key message's lParam when the key was already down: an auto-repeat.
const LPARAM KeyWasDown = 0x40000000;

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

// The template's labels take no focus; as links they must be reachable with Tab.
void MakeTabStop(HWND label)
{
    if (label)
        SetWindowLongW(label, GWL_STYLE, GetWindowLongW(label, GWL_STYLE) | WS_TABSTOP);
}

void InitAboutDialog(HWND dialog)
{
    OpenAboutBox = dialog;
    SetLinkFont(dialog, IDC_SUPPORT_LINK);
    SetLinkFont(dialog, IDC_HOMEPAGE_LINK);
    SubclassLinkLabel(GetDlgItem(dialog, IDC_SUPPORT_LINK));
    SubclassLinkLabel(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
    MakeTabStop(GetDlgItem(dialog, IDC_SUPPORT_LINK));
    MakeTabStop(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));

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

// What a double-click on a label opens, and Enter or Space on a focused one.
void OpenLabelAddress(HWND dialog, int controlId)
{
    if (controlId == IDC_SUPPORT_LINK)
        OpenLink(IDS_SUPPORT_ADDRESS, dialog);
    else if (controlId == IDC_HOMEPAGE_LINK)
        OpenHomepage(dialog);
}

void HandleCommand(HWND dialog, WPARAM wParam)
{
    int controlId = LOWORD(wParam);
    if (HIWORD(wParam) == STN_DBLCLK) {
        OpenLabelAddress(dialog, controlId);
        return;
    }
    // Only OK closes: Escape (IDCANCEL) leaves the dialog open.
    if (controlId == IDOK)
        CloseAboutDialog(dialog);
}

// Pure blue, as links are, unless the user reads with a high-contrast scheme: then its link colour.
COLORREF LinkTextColour()
{
    HIGHCONTRASTW contrast;
    ZeroMemory(&contrast, sizeof(contrast));
    contrast.cbSize = sizeof(contrast);
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)
        && (contrast.dwFlags & HCF_HIGHCONTRASTON))
        return GetSysColor(COLOR_HOTLIGHT);
    return LinkColour;
}

// The label's text in the link colour and font, on the background the dialog gives its statics,
// with the focus rectangle around the text while the label has the focus and the keyboard is in use.
void PaintLinkLabel(HWND label)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(label, &paint);
    if (dc) {
        RECT area;
        GetClientRect(label, &area);
        // The static's own painting comes after ours and finds nothing left to paint, so the
        // background (where a focus rectangle was) is ours to fill.
        HBRUSH background = reinterpret_cast<HBRUSH>(
            SendMessageW(GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
        if (background)
            FillRect(dc, &area, background);
        wchar_t text[LabelTextCapacity] = L"";
        int length = GetWindowTextW(label, text, LabelTextCapacity);
        SetTextColor(dc, LinkTextColour());
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ replaced = SelectObject(dc, LinkFont);
        TextOutW(dc, 0, 0, text, length);
        if (GetFocus() == label && !(SendMessageW(label, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
            SIZE extent = {0, 0};
            GetTextExtentPoint32W(dc, text, length, &extent);
            RECT around = {0, 0, extent.cx, extent.cy};
            if (IntersectRect(&around, &around, &area))
                DrawFocusRect(dc, &around);
        }
        if (replaced)
            SelectObject(dc, replaced);
    }
    EndPaint(label, &paint);
}

// Lets Enter reach a focused label instead of pressing OK.
// cppcheck-suppress constParameter ; HWND is an opaque handle, not a pointer to our data
LRESULT LinkLabelDialogCode(HWND label, LRESULT code, LPARAM lParam)
{
    const MSG* pending = reinterpret_cast<const MSG*>(lParam);
    if (!pending || GetFocus() != label)
        return code;
    if (pending->message == WM_KEYDOWN && pending->wParam == VK_RETURN)
        return code | DLGC_WANTMESSAGE;
    if (pending->message == WM_CHAR && (pending->wParam == '\r' || pending->wParam == ' '))
        return code | DLGC_WANTCHARS;
    return code;
}

} // namespace

INT_PTR ShowAboutDialog(HWND owner)
{
    if (OpenAboutBox && IsWindow(OpenAboutBox)) {
        BringOpenWindowForward(OpenAboutBox);
        return 0;
    }
    // Made from the template as written, so Russian reads right on any ANSI code page.
    INT_PTR result = DialogBoxParamW(ModuleInstance, LocalizedResourceW(IDD_ABOUT), owner, AboutDialogProc, 0);
    OpenAboutBox = nullptr;
    return result;
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
    switch (message) {
    case WM_PAINT:
        PaintLinkLabel(label);
        // The label has painted and validated itself; its own procedure still sees WM_PAINT.
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        InvalidateRect(label, nullptr, FALSE);  // the focus rectangle comes or goes
        break;
    case WM_GETDLGCODE:
        return LinkLabelDialogCode(label, CallWindowProcW(previous, label, message, wParam, lParam), lParam);
    case WM_GETOBJECT:
        // A screen reader asks what the label is. Other objects (its window, caret, scroll
        // bars) stay the standard ones.
        if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
            LRESULT answer = AnswerLinkLabelObject(label, wParam);
            if (answer)
                return answer;
        }
        break;
    case WM_KEYDOWN:
        // Enter or Space opens what a double-click opens; a held key opens it once.
        if ((wParam == VK_RETURN || wParam == VK_SPACE) && !(lParam & KeyWasDown))
            OpenLabelAddress(GetParent(label), GetDlgCtrlID(label));
        break;
    default:
        break;
    }
    return CallWindowProcW(previous, label, message, wParam, lParam);
}

bool OpenLinkLabelLater(HWND label)
{
    // A reader may ask long after the box has closed, when the handle may name another window.
    if (!IsLinkLabel(OpenAboutBox, label))
        return false;
    return PostMessageW(OpenAboutBox, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_DBLCLK),
                        reinterpret_cast<LPARAM>(label)) != FALSE;
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
