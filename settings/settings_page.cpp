#include "settings/settings_page.h"

INT_PTR SettingsPage::Dispatch(SettingsPage* page, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return page->OnInitDialog(window, wParam, lParam);
    case WM_NOTIFY:
        return page->OnNotify(window, static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam));
    case WM_CLOSE:
        page->OnClose(window);
        return 0;
    case WM_HELP:
        page->OnHelp(reinterpret_cast<HELPINFO*>(lParam));
        return 0;
    case WM_COMMAND:
        page->OnCommand(window, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    default:
        return 0;
    }
}

void SettingsPage::SendModified(bool changed)
{
    SendMessageA(sheet, changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(window), 0);
}

int SettingsPage::OnInitDialog(HWND pageWindow, WPARAM, LPARAM)
{
    window = pageWindow;
    sheet = GetParent(pageWindow);
    LoadSettings();
    return 1;  // let the dialog manager set the focus
}

int SettingsPage::OnNotify(HWND, int, NMHDR* header)
{
    if (!header)
        return -1;
    switch (header->code) {
    case PSN_SETACTIVE:
        return OnSetActive();      // 0: activation accepted
    case PSN_KILLACTIVE:
        return OnKillActive();     // 0: leaving the page allowed
    case PSN_APPLY:
        return OnApply();          // 0: PSNRET_NOERROR
    case PSN_HELP:
        OnHelpButton();
        return -1;
    case PSN_QUERYCANCEL:
        OnQueryCancel();
        return -1;                 // with no message result set, cancelling stays allowed
    default:
        return -1;                 // PSN_RESET and the rest: nothing to do
    }
}

void SettingsPage::OnClose(HWND pageWindow)
{
    SendMessageA(sheet, WM_CLOSE, 0, 0);
    DestroyWindow(pageWindow);
}

void SettingsPage::OnCommand(HWND, int controlId, HWND, int code)
{
    if (loading)
        return;  // EN_CHANGE and friends raised by LoadSettings itself
    switch (code) {
    case BN_CLICKED:
        OnButtonClicked(controlId);
        break;
    case CBN_SELCHANGE:
        OnSelChange();
        break;
    case EN_CHANGE:
        OnEditChange();
        break;
    default:
        break;
    }
}

void SettingsPage::OnHelp(HELPINFO*) {}

void SettingsPage::BeforeActivate() {}

int SettingsPage::OnSetActive()
{
    BeforeActivate();
    LoadSettings();
    SendModified(IsModified());
    return 0;
}

int SettingsPage::OnKillActive()
{
    SendModified(IsModified());
    return 0;
}

int SettingsPage::OnQueryCancel()
{
    return -1;
}

void SettingsPage::UpdateModified()
{
    SendModified(IsModified());
}

void SettingsPage::OnEditChange()
{
    UpdateModified();
}

void SettingsPage::OnSelChange()
{
    UpdateModified();
}
