#include "settings/logon_page.h"
#include "about/help.h"
#include "mapi/logon_report.h"
#include "mapi/mapi_subset.h"
#include "res/resource.h"
#include "host/wait_cursor.h"

#include <cstdint>
#include <cstring>

LogonPage TheLogonPage;

INT_PTR CALLBACK LogonPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SettingsPage::Dispatch(&TheLogonPage, window, message, wParam, lParam);
}

namespace {

// Profile table columns, in the order SetColumns asks for them.
// Column positions in the profile table's rows; one byte is plenty.
enum ProfileColumn : std::uint8_t { ProfileNameColumn, ProfileDefaultColumn, ProfileColumnCount };
const SizedSPropTagArray(ProfileColumnCount, ProfileColumns) = {
    ProfileColumnCount, {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}};

const int NoPosition = -1;

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The stored name finds its list entry whatever the case of its ASCII letters; every other byte
// must be equal (a locale comparison would also fold Cyrillic and other letters).
bool SameNameIgnoringAsciiCase(const char* listed, const char* stored)
{
    for (;; ++listed, ++stored) {
        if (AsciiLower(*listed) != AsciiLower(*stored))
            return false;
        if (!*listed)
            return true;
    }
}

// The change test: byte for byte, so that ignorable characters (a soft hyphen) and case count.
bool SameBytes(const char* shown, const char* loaded)
{
    return std::strcmp(shown, loaded) == 0;
}

} // namespace

void LogonPage::EnableProfileControls(bool enable)
{
    EnableWindow(GetDlgItem(window, IDC_TEST_LOGON), enable);
    EnableWindow(GetDlgItem(window, IDC_PROFILE_LIST), enable);
    EnableWindow(GetDlgItem(window, IDC_PASSWORD), enable);
}

void LogonPage::SelectedProfile(char (&text)[SettingTextCapacity], bool& selected)
{
    text[0] = '\0';
    HWND list = GetDlgItem(window, IDC_PROFILE_LIST);
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    selected = false;
    if (index == CB_ERR)
        return;
    // Entries come from MAPI: check the length before copying into the fixed buffer.
    LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(SettingTextCapacity))
        return;
    SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    text[SettingTextCapacity - 1] = '\0';
    selected = true;
}

void LogonPage::TestLogon()
{
    // What the controls hold now, saved or not.
    char typedPassword[SettingTextCapacity] = "";
    GetDlgItemTextA(window, IDC_PASSWORD, typedPassword, sizeof(typedPassword));
    char profileName[SettingTextCapacity];
    bool selected = false;
    SelectedProfile(profileName, selected);  // empty when nothing is selected
    ReportTestLogon(window, profileName, typedPassword);
}

int LogonPage::FillProfileList()
{
    HWND list = GetDlgItem(window, IDC_PROFILE_LIST);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);

    WaitCursor wait;  // the profile table comes from MAPI, which may be slow to answer
    LPPROFADMIN admin = nullptr;
    if (FAILED(MAPIAdminProfiles(0, &admin)) || !admin)
        return -1;  // no profile administration: automatic logon only
    int listed = 0;
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    if (SUCCEEDED(admin->GetProfileTable(0, &table)) && table
        && SUCCEEDED(table->SetColumns(const_cast<LPSPropTagArray>(reinterpret_cast<const SPropTagArray*>(&ProfileColumns)), TBL_BATCH))
        && SUCCEEDED(table->QueryRows(MapiRowBatch, 0, &rows)) && rows) {
        int match = NoPosition;
        int defaultPosition = NoPosition;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SRow& row = rows->aRow[i];
            if (!HasValue(row.lpProps, row.cValues, ProfileNameColumn, PR_DISPLAY_NAME_A)
                || !row.lpProps[ProfileNameColumn].Value.lpszA)
                continue;
            const char* name = row.lpProps[ProfileNameColumn].Value.lpszA;
            LRESULT position = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
            if (position < 0)
                continue;  // the list refused it (out of memory): not listed, not counted
            if (SameNameIgnoringAsciiCase(name, profile))
                match = static_cast<int>(position);
            if (HasValue(row.lpProps, row.cValues, ProfileDefaultColumn, PR_DEFAULT_PROFILE)
                && row.lpProps[ProfileDefaultColumn].Value.b)
                defaultPosition = static_cast<int>(position);
            ++listed;
        }
        int selection = match != NoPosition ? match : defaultPosition != NoPosition ? defaultPosition : 0;
        SendMessageA(list, CB_SETCURSEL, selection, 0);
    }
    if (rows)
        FreeProws(rows);
    if (table)
        table->Release();
    admin->Release();
    return listed;
}

void LogonPage::LoadSettings()
{
    loading = 1;
    ReadLogonSettings(autoLogon, profile, password);

    int listed = FillProfileList();
    if (listed <= 0)
        autoLogon = 1;  // nothing to choose from (or MAPI unavailable): automatic logon

    SetDlgItemTextA(window, IDC_PASSWORD, password);
    CheckRadioButton(window, IDC_AUTO_LOGON, IDC_PROFILE_LOGON, autoLogon ? IDC_AUTO_LOGON : IDC_PROFILE_LOGON);
    EnableProfileControls(autoLogon == 0);
    EnableWindow(GetDlgItem(window, IDC_PROFILE_LOGON), listed > 0);
    loading = 0;
}

bool LogonPage::IsModified()
{
    bool modified = false;
    DWORD automatic = SendDlgItemMessageA(window, IDC_AUTO_LOGON, BM_GETCHECK, 0, 0) & 1;
    if (automatic != autoLogon)
        modified = true;

    char typed[SettingTextCapacity] = "";
    GetDlgItemTextA(window, IDC_PASSWORD, typed, sizeof(typed));
    if (!SameBytes(typed, password))
        modified = true;

    // An empty list has no entry to compare: the profile then counts as unchanged.
    char selectedText[SettingTextCapacity];
    bool selected = false;
    SelectedProfile(selectedText, selected);
    if (selected && !SameBytes(selectedText, profile))
        modified = true;

    EnableProfileControls(automatic == 0);
    return modified;
}

void LogonPage::SaveSettings()
{
    autoLogon = SendDlgItemMessageA(window, IDC_AUTO_LOGON, BM_GETCHECK, 0, 0) & 1;
    GetDlgItemTextA(window, IDC_PASSWORD, password, sizeof(password));
    char selectedText[SettingTextCapacity];
    bool selected = false;
    SelectedProfile(selectedText, selected);
    if (selected)
        lstrcpynA(profile, selectedText, sizeof(profile));
    WriteLogonSettings(autoLogon, profile, password);
}

int LogonPage::OnApply()
{
    SaveSettings();
    LoadSettings();
    SendModified(IsModified());
    return 0;
}

int LogonPage::OnHelpButton()
{
    OpenHelpTopic(window, "Interface.htm");
    return -1;
}

void LogonPage::OnButtonClicked(int controlId)
{
    if (controlId == IDC_TEST_LOGON)
        TestLogon();
    else
        UpdateModified();
}
