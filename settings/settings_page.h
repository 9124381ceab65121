// A small property-page framework: one static dispatcher turns a page's dialog messages and the
// sheet's notifications into virtual operations, and the page reports its modified state to the
// sheet after every change.
#ifndef ORVLHOOK_SETTINGS_SETTINGS_PAGE_H
#define ORVLHOOK_SETTINGS_SETTINGS_PAGE_H

#include <windows.h>
#include <commctrl.h>

class SettingsPage {
public:
    HWND window;    // the page's dialog, set at WM_INITDIALOG
    HWND sheet;     // the property sheet (the page's parent); modified-state reports go here
    LONG loading;   // non-zero while LoadSettings fills the controls: commands are ignored then

    // The dialog procedure's body for every page: page is the module-wide page object.
    static INT_PTR Dispatch(SettingsPage* page, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // PSM_CHANGED (changed) or PSM_UNCHANGED to the sheet, for this page.
    void SendModified(bool changed);

    // Operations in the order of the dispatch table. The results of OnInitDialog and OnNotify are
    // what the dialog procedure returns; nothing ever sets DWL_MSGRESULT, so the sheet reads 0.
    virtual int OnInitDialog(HWND pageWindow, WPARAM wParam, LPARAM lParam);
    virtual int OnNotify(HWND window, int controlId, NMHDR* header);
    virtual void OnClose(HWND pageWindow);
    virtual void OnCommand(HWND window, int controlId, HWND controlWindow, int code);
    virtual void OnHelp(HELPINFO* helpInfo);
    virtual void BeforeActivate();
    virtual void LoadSettings() = 0;
    virtual bool IsModified() = 0;
    virtual int OnSetActive();
    virtual int OnKillActive();
    virtual int OnApply() = 0;
    virtual int OnQueryCancel();
    virtual int OnHelpButton() = 0;
    virtual void UpdateModified();
    virtual void OnButtonClicked(int controlId) = 0;
    virtual void OnEditChange();
    virtual void OnSelChange();

protected:
    // Constant-initialised: the module-wide page exists, zero-filled, from the moment of loading.
    constexpr SettingsPage() : window(nullptr), sheet(nullptr), loading(0) {}
    ~SettingsPage() = default;
};

#endif
