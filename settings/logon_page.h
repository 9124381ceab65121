// The "Logon" page of the settings sheet: automatic logon, or a MAPI profile and a password.
#ifndef ORVLHOOK_SETTINGS_LOGON_PAGE_H
#define ORVLHOOK_SETTINGS_LOGON_PAGE_H

#include "settings/settings_page.h"
#include "settings/settings_store.h"

class LogonPage : public SettingsPage {
public:
    DWORD autoLogon;                      // as loaded: the stored number; after a save 0 or 1
    char profile[SettingTextCapacity];    // as loaded; after a save, the selected list entry
    char password[SettingTextCapacity];   // as loaded; after a save, the password box

    constexpr LogonPage() : SettingsPage(), autoLogon(0), profile(), password() {}

    void LoadSettings() override;
    bool IsModified() override;
    int OnApply() override;
    int OnHelpButton() override;
    void OnButtonClicked(int controlId) override;

    void SaveSettings();
    // Logs on with the selected profile and the typed password and reports what it found.
    void TestLogon();

private:
    int FillProfileList();  // returns the number of profiles listed
    void EnableProfileControls(bool enable);
    void SelectedProfile(char (&text)[SettingTextCapacity], bool& selected);
};

// The one page object of the module.
extern LogonPage TheLogonPage;

INT_PTR CALLBACK LogonPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
