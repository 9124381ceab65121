// The settings sheet opened from Messenger's menu: what the Logon page shows, what it reports to
// the sheet, what lands in the registry, and what MAPI was asked.
#include "tests/mapi_support.h"
#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace rig;

namespace {

struct Report { bool changed; HWND page; };

class SettingsSheet : public MapiCase {
protected:
    HWND messenger = nullptr;
    std::unique_ptr<MessageRecorder> recorder;   // what the page reports to the sheet

    void TearDown() override
    {
        recorder.reset();
        MapiCase::TearDown();
    }

    void Start(Language language = Language::English)
    {
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, LoadModule(language));
        ASSERT_TRUE(SandboxMapi::Load()) << "the MAPI provider stand-in is not loaded";
        ASSERT_TRUE(InjectAsHost());
        SandboxMapi::ResetLog();
        sandbox::ResetMessengerStats();
    }

    // Start, then record every report the page makes to the sheet.
    void StartRecordingReports()
    {
        ASSERT_NO_FATAL_FAILURE(Start());
        recorder = std::make_unique<MessageRecorder>(std::vector<UINT>{PSM_CHANGED, PSM_UNCHANGED});
    }

    // The reports since the start or the last Clear: changed or not, in this order, each naming `page`.
    void ExpectReports(HWND page, const std::vector<bool>& changed) const
    {
        std::vector<Report> reports = Reports(*recorder);
        ASSERT_EQ(changed.size(), reports.size()) << Describe(recorder->Messages());
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(changed[i], reports[i].changed) << "report " << i;
            EXPECT_EQ(page, reports[i].page) << "report " << i;
        }
    }

    // A stored logon with a named profile (AutoLogon 0), and a password when given.
    static void StoreProfileLogon(const std::string& profile, const std::optional<std::string>& password = {})
    {
        SetSettingDword("AutoLogon", 0);
        SetSettingString("Profile", profile);
        if (password)
            SetSettingString("Password", *password);
    }

    // Opens the sheet with the menu command and runs body on the driver thread; body closes it.
    // MAPI is asked everything under the wait cursor, and the prepared sheet shows the cursor the
    // thread had before (a cursor of its own here, with the pointer away from every window).
    void WithSheet(const std::function<void(ModalScript&, HWND sheet, HWND page)>& body,
                   const char* caption = SettingsCaption)
    {
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 2, GetSystemMetrics(SM_CYSCREEN) - 2);
        const HCURSOR before = SetCursor(LoadCursor(nullptr, IDC_CROSS));
        const HCURSOR own = GetCursor();
        WithSettingsSheet(messenger, caption, [&](ModalScript& script, HWND sheet, HWND page) {
            EXPECT_EQ(own, GetCursor()) << "the prepared sheet shows another cursor";
            body(script, sheet, page);
        });
        EXPECT_EQ(own, GetCursor()) << "the closed sheet left another cursor";
        SetCursor(before);
        EXPECT_EQ(0, sandbox::GetMessengerStats().commands) << "the menu command reached Messenger";
        EXPECT_EQ(std::vector<std::string>{}, SandboxMapi::LinesWithoutWaitCursor()) << SandboxMapi::Log();
    }

    static std::vector<Report> Reports(const MessageRecorder& recorder)
    {
        std::vector<Report> reports;
        for (const RecordedMessage& message : recorder.Messages())
            if (message.sent && (message.message == PSM_CHANGED || message.message == PSM_UNCHANGED))
                reports.push_back({message.message == PSM_CHANGED, reinterpret_cast<HWND>(message.wParam)});
        return reports;
    }

    static void SetText(HWND page, int controlId, const std::string& text)
    {
        SendMessageA(GetDlgItem(page, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    static void Choose(HWND page, int index)
    {
        HWND list = GetDlgItem(page, IDC_PROFILE_LIST);
        SendMessageA(list, CB_SETCURSEL, index, 0);
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_PROFILE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }

    static bool ClickAndWait(ModalScript& script, HWND page, int radio)
    {
        script.Click(page, radio);
        return WaitUntil([&] { return ButtonChecked(page, radio); }, 5000);
    }

    static void ExpectProfileControls(HWND page, bool enabled)
    {
        EXPECT_EQ(enabled, ControlEnabled(page, IDC_PROFILE_LIST));
        EXPECT_EQ(enabled, ControlEnabled(page, IDC_PASSWORD));
        EXPECT_EQ(enabled, ControlEnabled(page, IDC_TEST_LOGON));
    }

    // No profile listed: automatic logon is the only choice.
    static void ExpectAutomaticLogonOnly(HWND page)
    {
        EXPECT_TRUE(ComboItems(page, IDC_PROFILE_LIST).empty());
        EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
        EXPECT_FALSE(ControlEnabled(page, IDC_PROFILE_LOGON));
        ExpectProfileControls(page, false);
    }

    static void ExpectStored(DWORD autoLogon, const std::string& profile, const std::string& password)
    {
        RegValue value = ReadSetting("AutoLogon");
        ASSERT_TRUE(value.present);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value.type);
        ASSERT_EQ(4u, value.data.size());
        EXPECT_EQ(autoLogon, *reinterpret_cast<const DWORD*>(value.data.data()));
        value = ReadSetting("Profile");
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
        EXPECT_EQ(profile + '\0', value.data);
        value = ReadSetting("Password");
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
        EXPECT_EQ(password + '\0', value.data);
    }

    static void AddProfilesABC()
    {
        MapiFixture::AddProfile(std::string("A"), false);
        MapiFixture::AddProfile(std::string("B"), true);
        MapiFixture::AddProfile(std::string("C"), false);
    }
};

} // namespace

// ---- What the page shows ---------------------------------------------------------------------

namespace {

// What a screen reader calls an edit or combo box on Windows: the nearest earlier static among
// its siblings, looking no further back than a control that starts a group and takes the focus.
// (Wine's own name for a combo box is its selection.)
std::string NameByWindowsRule(HWND control)
{
    for (HWND sibling = GetWindow(control, GW_HWNDPREV); sibling; sibling = GetWindow(sibling, GW_HWNDPREV)) {
        if (lstrcmpiA(ClassName(sibling).c_str(), "Static") == 0)
            return WindowText(sibling);
        if ((GetWindowLongW(sibling, GWL_STYLE) & (WS_GROUP | WS_TABSTOP)) == (WS_GROUP | WS_TABSTOP))
            break;
    }
    return "";
}

class LogonPageNames : public SettingsSheet, public testing::WithParamInterface<Language> {};

} // namespace

TEST_P(LogonPageNames, ProfileListAndPasswordAreNamedAfterTheirLabels)
{
    bool russian = GetParam() == Language::Russian;
    ASSERT_NO_FATAL_FAILURE(Start(GetParam()));
    std::string profile, password;
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        profile = NameByWindowsRule(GetDlgItem(page, IDC_PROFILE_LIST));
        password = NameByWindowsRule(GetDlgItem(page, IDC_PASSWORD));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    }, russian ? RussianSettingsCaption : SettingsCaption);
    EXPECT_EQ(russian ? "Профиль" : "Profile", profile);
    EXPECT_EQ(russian ? "Пароль (можно пустой)" : "Password (may be blank)", password);
}

INSTANTIATE_TEST_SUITE_P(Languages, LogonPageNames, testing::Values(Language::English, Language::Russian));

TEST_F(SettingsSheet, EmptyStoreSelectsTheDefaultProfileAndOkWritesIt)
{
    AddProfilesABC();
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), ComboItems(page, IDC_PROFILE_LIST));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
        EXPECT_FALSE(ButtonChecked(page, IDC_PROFILE_LOGON));
        EXPECT_TRUE(ControlEnabled(page, IDC_PROFILE_LOGON));
        ExpectProfileControls(page, false);
        EXPECT_EQ("", ControlText(page, IDC_PASSWORD));
        ExpectReports(page, {true});  // "B" differs from the empty stored name
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(1, "B", "");
}

// A stored named-profile logon over profiles A, B (the default) and C: the entry it selects,
// whether that differs from what was stored, and what Apply (when pressed) writes. Cancel writes
// nothing.
struct StoredProfile {
    const char* profile;
    const char* password;   // or null: none stored
    int selected;
    bool changed;
    const char* applied;    // the profile Apply writes, or null: Apply is not pressed
};

class StoredProfileLogon : public SettingsSheet, public testing::WithParamInterface<StoredProfile> {};

TEST_P(StoredProfileLogon, SelectsItsEntry)
{
    const StoredProfile& stored = GetParam();
    const std::string password = stored.password ? stored.password : "";
    AddProfilesABC();
    StoreProfileLogon(stored.profile, stored.password ? std::optional<std::string>(password) : std::nullopt);
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_TRUE(ButtonChecked(page, IDC_PROFILE_LOGON));
        EXPECT_EQ(stored.selected, ComboSelection(page, IDC_PROFILE_LIST));
        ExpectProfileControls(page, true);
        EXPECT_EQ(password, ControlText(page, IDC_PASSWORD));
        ExpectReports(page, {stored.changed});
        if (stored.applied) {
            recorder->Clear();
            script.PressSheetButton(sheet, PSBTN_APPLYNOW);
            EXPECT_TRUE(WaitUntil([&] { return ReadSetting("Profile").data == std::string(stored.applied) + '\0'; }));
            EXPECT_TRUE(WaitUntil([&] { return !Reports(*recorder).empty(); }));
            std::vector<Report> reports = Reports(*recorder);
            ASSERT_FALSE(reports.empty());
            EXPECT_FALSE(reports.back().changed);
            EXPECT_TRUE(IsWindowVisible(sheet));  // Apply keeps the sheet open
            EXPECT_EQ(stored.selected, ComboSelection(page, IDC_PROFILE_LIST));
        }
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    if (stored.applied) {
        ExpectStored(0, stored.applied, password);
    } else {
        EXPECT_EQ(std::string(stored.profile) + '\0', ReadSetting("Profile").data);
        EXPECT_EQ(stored.password != nullptr, ReadSetting("Password").present);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stored, StoredProfileLogon,
    testing::Values(
        // Named exactly: selected and unchanged.
        StoredProfile{"C", "pw", 2, false, nullptr},
        // In another case: selected, and Apply writes the list's spelling.
        StoredProfile{"c", nullptr, 2, true, "C"},
        // A profile that vanished: the default is selected instead.
        StoredProfile{"Gone", nullptr, 1, true, nullptr}));

TEST_F(SettingsSheet, NoDefaultProfileSelectsTheFirstAndLastMatchWins)
{
    MapiFixture::AddProfile(std::string("Work"), std::nullopt);   // default flag missing
    MapiFixture::AddProfile(std::nullopt, true);                  // no name: not listed
    MapiFixture::AddProfile(std::string("Home"), false);
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ((std::vector<std::string>{"Work", "Home"}), ComboItems(page, IDC_PROFILE_LIST));
        EXPECT_EQ(0, ComboSelection(page, IDC_PROFILE_LIST));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

TEST_F(SettingsSheet, AutoLogonStoredAsAnotherNumberShowsAutomaticAndApplyWritesOne)
{
    AddProfilesABC();
    SetSettingDword("AutoLogon", 7);
    SetSettingString("Profile", "B");
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
        ExpectReports(page, {true});
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(1, "B", "");
}

TEST_F(SettingsSheet, NoProfilesMeansAutomaticLogonOnly)
{
    StoreProfileLogon("Old");
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        ExpectAutomaticLogonOnly(page);
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(1, "Old", "");
}

TEST_F(SettingsSheet, OnlyTheFirstHundredProfilesAreListed)
{
    for (int i = 0; i < 130; ++i) {
        char name[32];
        wsprintfA(name, "Profile %03d", i);
        MapiFixture::AddProfile(std::string(name), i == 120);
    }
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        std::vector<std::string> items = ComboItems(page, IDC_PROFILE_LIST);
        ASSERT_EQ(100u, items.size());
        EXPECT_EQ("Profile 099", items.back());
        EXPECT_EQ(0, ComboSelection(page, IDC_PROFILE_LIST));  // the default lies beyond the batch
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_TRUE(SandboxMapi::Has("Table.QueryRows count=100 flags=0 -> 0 rows=100"));
    // One batch per table: the page loads at WM_INITDIALOG and again at activation.
    EXPECT_EQ(SandboxMapi::CallCount("ProfAdmin.GetProfileTable"), SandboxMapi::CallCount("Table.QueryRows"));
    EXPECT_EQ(2, SandboxMapi::CallCount("Table.QueryRows"));
}

class ProfileListFailure : public SettingsSheet, public testing::WithParamInterface<const char*> {};

TEST_P(ProfileListFailure, LeavesAnEmptyListAndReleasesEverything)
{
    AddProfilesABC();
    StoreProfileLogon("B");
    MapiFixture::SetStep(GetParam(), static_cast<HRESULT>(0x80004005L));
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        ExpectAutomaticLogonOnly(page);
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    // TearDown checks that every object and buffer was released.
}

INSTANTIATE_TEST_SUITE_P(Steps, ProfileListFailure,
                         testing::Values("FailAdminProfiles", "FailGetProfileTable", "FailProfileSetColumns",
                                         "FailProfileQueryRows"));

// ---- How the page compares -----------------------------------------------------------------------

TEST_F(SettingsSheet, StoredNameFindsItsEntryIgnoringTheCaseOfAsciiLettersOnly)
{
    MapiFixture::AddProfile(std::string("Alpha"), true);
    MapiFixture::AddProfile(std::string("beta"), false);
    MapiFixture::AddProfile(Ansi("Работа"), false);
    StoreProfileLogon("BETA");
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        ExpectReports(page, {true});  // the spelling differs from the stored one
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

TEST_F(SettingsSheet, CyrillicNameInAnotherCaseFindsNoEntry)
{
    MapiFixture::AddProfile(std::string("Alpha"), true);
    MapiFixture::AddProfile(Ansi("Работа"), false);
    StoreProfileLogon(Ansi("РАБОТА"));
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ(0, ComboSelection(page, IDC_PROFILE_LIST));  // the default, as for a vanished name
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

// ---- What the page reports -------------------------------------------------------------------

TEST_F(SettingsSheet, RadioClicksSwitchControlsAndReportEachTime)
{
    AddProfilesABC();
    SetSettingString("Profile", "B");
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        ExpectReports(page, {false});
        recorder->Clear();
        ASSERT_TRUE(ClickAndWait(script, page, IDC_PROFILE_LOGON));
        EXPECT_TRUE(WaitUntil([&] { return ControlEnabled(page, IDC_PROFILE_LIST); }));
        ExpectProfileControls(page, true);
        EXPECT_TRUE(WaitUntil([&] { return Reports(*recorder).size() == 1; }));
        ExpectReports(page, {true});
        ASSERT_TRUE(ClickAndWait(script, page, IDC_AUTO_LOGON));
        EXPECT_TRUE(WaitUntil([&] { return !ControlEnabled(page, IDC_PROFILE_LIST); }));
        ExpectProfileControls(page, false);
        EXPECT_TRUE(WaitUntil([&] { return Reports(*recorder).size() == 2; }));
        ExpectReports(page, {true, false});
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

// Edits on a page loaded with profile "A" (AutoLogon 0) and a stored password: each reports
// whether the page now differs from what was loaded. Back at the loaded values Apply is off; a
// real change turns it on, and OK saves it.
struct Edit {
    std::string password;   // typed, unless an entry is chosen
    int choose;             // the entry chosen, or -1
    bool changed;           // what the edit reports
};
struct EditRun {
    std::string stored;
    std::vector<Edit> edits;   // ending back at the loaded values
    std::string saved;         // typed last, then OK
};

class EditReports : public SettingsSheet, public testing::WithParamInterface<EditRun> {};

TEST_P(EditReports, AgainstTheLoadedValues)
{
    const EditRun& run = GetParam();
    AddProfilesABC();
    StoreProfileLogon("A", run.stored);
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        // Loading set the password box (raising EN_CHANGE) without a report: one from activation.
        ExpectReports(page, {false});
        recorder->Clear();
        std::vector<bool> expected;
        for (const Edit& edit : run.edits) {
            if (edit.choose >= 0)
                Choose(page, edit.choose);
            else
                SetText(page, IDC_PASSWORD, edit.password);
            expected.push_back(edit.changed);
        }
        ExpectReports(page, expected);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, 0x3021)));  // Apply off again
        SetText(page, IDC_PASSWORD, run.saved);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet, 0x3021)));   // a real change can be applied
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(0, "A", run.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, EditReports,
    testing::Values(
        // Typing and choosing, each compared with the loaded values.
        EditRun{"old", {{"new", -1, true}, {"old", -1, false}, {"", 2, true}, {"", 0, false}}, "new"},
        // A password that differs by a soft hyphen (in both 1251 and 1252) or by case is a change.
        EditRun{"secret", {{"sec\xADret", -1, true}, {"SECRET", -1, true}, {"secret", -1, false}}, "sec\xADret"}));

TEST_F(SettingsSheet, OtherNotificationsAndMessagesAreIgnored)
{
    AddProfilesABC();
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        recorder->Clear();
        HWND edit = GetDlgItem(page, IDC_PASSWORD);
        EXPECT_EQ(0, SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_PASSWORD, EN_SETFOCUS), reinterpret_cast<LPARAM>(edit)));
        EXPECT_EQ(0, SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_PROFILE_LIST, CBN_DROPDOWN), 0));
        NMHDR header = {sheet, 0, static_cast<UINT>(PSN_RESET)};
        EXPECT_EQ(0, SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)));
        header.code = static_cast<UINT>(-1234);
        EXPECT_EQ(0, SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)));
        EXPECT_EQ(0, SendMessageA(page, WM_NOTIFY, 0, 0)) << "a notification without its header";
        HELPINFO help = {};
        help.cbSize = sizeof(help);
        EXPECT_EQ(0, SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help)));
        ExpectReports(page, {});
        EXPECT_TRUE(IsWindowVisible(sheet));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

TEST_F(SettingsSheet, CloseOnThePageClosesTheSheet)
{
    AddProfilesABC();
    Start();
    WithSheet([&](ModalScript&, HWND, HWND page) { PostMessageA(page, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(ReadSetting("AutoLogon").present);
}

// ---- Saving ------------------------------------------------------------------------------------

TEST_F(SettingsSheet, ApplySavesAndReloadsThenOkKeepsIt)
{
    AddProfilesABC();
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        ASSERT_TRUE(ClickAndWait(script, page, IDC_PROFILE_LOGON));
        EXPECT_TRUE(WaitUntil([&] { return ControlEnabled(page, IDC_PASSWORD); }));
        Choose(page, 0);
        SetText(page, IDC_PASSWORD, "s3cret");
        recorder->Clear();
        script.PressSheetButton(sheet, PSBTN_APPLYNOW);
        EXPECT_TRUE(WaitUntil([&] { return ReadSetting("Password").present; }));
        EXPECT_TRUE(WaitUntil([&] { return !Reports(*recorder).empty(); }));
        EXPECT_FALSE(Reports(*recorder).back().changed);
        EXPECT_EQ("s3cret", ControlText(page, IDC_PASSWORD));
        EXPECT_TRUE(ButtonChecked(page, IDC_PROFILE_LOGON));
        EXPECT_EQ(0, ComboSelection(page, IDC_PROFILE_LIST));
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(0, "A", "s3cret");
}

TEST_F(SettingsSheet, CancelWritesNothingAndKeepsHostileValuesByteForByte)
{
    AddProfilesABC();
    std::string junk(5000, 'x');
    SetSettingRaw("Profile", REG_BINARY, junk.data(), static_cast<DWORD>(junk.size()));
    SetSettingRaw("Password", REG_BINARY, junk.data(), 300);
    SetSettingString("AutoLogon", "0");
    RegValue profileBefore = ReadSetting("Profile");
    RegValue passwordBefore = ReadSetting("Password");
    RegValue autoBefore = ReadSetting("AutoLogon");
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ("", ControlText(page, IDC_PASSWORD));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(profileBefore.data, ReadSetting("Profile").data);
    EXPECT_EQ(passwordBefore.data, ReadSetting("Password").data);
    EXPECT_EQ(autoBefore.data, ReadSetting("AutoLogon").data);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), ReadSetting("Profile").type);
}

TEST_F(SettingsSheet, LongestPasswordAndProfileRoundTrip)
{
    std::string longName(299, 'P');
    MapiFixture::AddProfile(std::string("Short"), true);
    MapiFixture::AddProfile(longName, false);
    std::string longPassword(299, 'w');
    StoreProfileLogon(longName, longPassword);
    StartRecordingReports();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ(longPassword, ControlText(page, IDC_PASSWORD));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        ExpectReports(page, {false});
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(0, longName, longPassword);
}

TEST_F(SettingsSheet, OverlongTypedPasswordIsSavedAsItsFirst299Characters)
{
    AddProfilesABC();
    StoreProfileLogon("A");
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        SetText(page, IDC_PASSWORD, std::string(300, 'z'));
        script.PressSheetButton(sheet, PSBTN_APPLYNOW);
        EXPECT_TRUE(WaitUntil([&] { return ReadSetting("Password").present; }));
        EXPECT_EQ(std::string(299, 'z'), ControlText(page, IDC_PASSWORD));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    ExpectStored(0, "A", std::string(299, 'z'));
}

class HostileStoredText : public SettingsSheet, public testing::WithParamInterface<int> {};

TEST_P(HostileStoredText, UnterminatedValuesFillingTheFieldAreNotRead)
{
    AddProfilesABC();
    int size = GetParam();
    std::string bytes(static_cast<size_t>(size), 'q');
    SetSettingRaw("Password", REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    SetSettingRaw("Profile", REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        std::string shown = ControlText(page, IDC_PASSWORD);
        if (size < 300)
            EXPECT_EQ(bytes, shown);  // shorter than the field: read and terminated
        else
            EXPECT_EQ("", shown);
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

INSTANTIATE_TEST_SUITE_P(Sizes, HostileStoredText, testing::Values(0, 1, 298, 299, 300, 301, 5000));

// ---- The sheet ----------------------------------------------------------------------------------

TEST_F(SettingsSheet, MapiIsInitialisedForTheSheetAndUninitialisedOnce)
{
    AddProfilesABC();
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND) {
        EXPECT_FALSE(SandboxMapi::Has("MAPIUninitialize"));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    std::vector<std::string> lines = SandboxMapi::Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("MAPIInitialize flags=9 -> 0", lines.front());
    EXPECT_EQ("MAPIUninitialize", lines.back());
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPIInitialize"));
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPIUninitialize"));
    EXPECT_TRUE(SandboxMapi::Has("MAPIAdminProfiles flags=0 -> 0"));
    EXPECT_TRUE(SandboxMapi::Has("ProfAdmin.GetProfileTable flags=0 -> 0"));
    EXPECT_TRUE(SandboxMapi::Has("Table.SetColumns tags=3001001e,3d04000b flags=2 -> 0"));
}

// How the sheet initialises MAPI when MAPIInitialize refuses: with MAPI_NO_COINIT first, then
// without it, last with no structure at all; it uninitialises once whatever happened.
struct InitRefusal {
    std::optional<HRESULT> noCoinit, plain, null;   // what each kind of call answers (none: S_OK)
    bool profiles;                                  // the fixture lists profiles A, B, C
    std::vector<std::string> firstCalls;            // how the record starts
    int initialisations;                            // MAPIInitialize calls in all, or -1: not counted
    int listed;                                     // profiles listed, or -1: not looked at
};

class InitialisationRefused : public SettingsSheet, public testing::WithParamInterface<InitRefusal> {};

TEST_P(InitialisationRefused, TriesTheNextKindOfCallAndUninitialisesOnce)
{
    const InitRefusal& refusal = GetParam();
    if (refusal.profiles)
        AddProfilesABC();
    MapiFixture::SetInit(refusal.noCoinit, refusal.plain, refusal.null);
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        if (refusal.listed >= 0) {
            EXPECT_EQ(static_cast<size_t>(refusal.listed), ComboItems(page, IDC_PROFILE_LIST).size());
        }
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    std::vector<std::string> lines = SandboxMapi::Lines();
    ASSERT_GE(lines.size(), refusal.firstCalls.size());
    EXPECT_EQ(refusal.firstCalls, std::vector<std::string>(lines.begin(), lines.begin() + refusal.firstCalls.size()));
    if (refusal.initialisations >= 0) {
        EXPECT_EQ(refusal.initialisations, SandboxMapi::CallCount("MAPIInitialize"));
    }
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPIUninitialize"));
}

const HRESULT UnknownFlags = static_cast<HRESULT>(0x80040106L);
const HRESULT Failure = static_cast<HRESULT>(0x80004005L);

INSTANTIATE_TEST_SUITE_P(
    Init, InitialisationRefused,
    testing::Values(
        // Unknown flags: again without MAPI_NO_COINIT.
        InitRefusal{UnknownFlags, std::nullopt, std::nullopt, true,
                    {"MAPIInitialize flags=9 -> 80040106", "MAPIInitialize flags=1 -> 0"}, 2, 3},
        // Failing everywhere: the sheet still shows.
        InitRefusal{UnknownFlags, Failure, Failure, true,
                    {"MAPIInitialize flags=9 -> 80040106", "MAPIInitialize flags=1 -> 80004005",
                     "MAPIInitialize null -> 80004005"},
                    -1, -1},
        // Any other failure goes straight to the last attempt.
        InitRefusal{Failure, std::nullopt, std::nullopt, false,
                    {"MAPIInitialize flags=9 -> 80004005", "MAPIInitialize null -> 0"}, -1, -1}));

TEST_F(SettingsSheet, SecondOpeningReusesThePageAndBracketsMapiAgain)
{
    AddProfilesABC();
    Start();
    HWND firstPage = nullptr;
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        firstPage = page;
        SetText(page, IDC_PASSWORD, "typed");
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_NE(firstPage, page);
        EXPECT_EQ("", ControlText(page, IDC_PASSWORD));  // cancelled typing is not kept
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(1, "B", "");
    EXPECT_EQ(2, SandboxMapi::CallCount("MAPIInitialize"));
    EXPECT_EQ(2, SandboxMapi::CallCount("MAPIUninitialize"));
}

// Messenger's window is disabled while the sheet is open, but another add-in or a script can
// still send or post "Settings..." to it: that opens nothing, brings the open sheet forward, and
// leaves what it shows and what the user types alone.
enum class Delivery { Sent, Posted };

class SecondRequest : public SettingsSheet, public testing::WithParamInterface<Delivery> {};

namespace {

HWND commandTarget = nullptr;
bool sentCommandReturned = false;

// Sends "Settings..." from the modal loop, as a neighbour's timer would (a send from the script
// itself could not return while a second sheet were open).
void CALLBACK SendSettingsCommand(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    SendMessageW(commandTarget, WM_COMMAND, IDM_SETTINGS, 0);
    sentCommandReturned = true;
}

} // namespace

TEST_P(SecondRequest, BringsTheOpenSheetForwardAndKeepsWhatWasStoredAndTyped)
{
    MapiFixture::AddProfile(std::string("Alpha"), true);
    MapiFixture::AddProfile(std::string("Beta"), false);
    StoreProfileLogon("Beta", std::string("first secret"));
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        commandTarget = messenger;
        sentCommandReturned = false;
        SecondSettings again = RequestSettingsAgain(script, sheet, sheet, [&] {
            if (GetParam() == Delivery::Sent)
                SetTimer(nullptr, 0, 10, SendSettingsCommand);
            else
                PostMessageW(messenger, WM_COMMAND, IDM_SETTINGS, 0);
        });
        EXPECT_TRUE(again.cameForward);
        EXPECT_FALSE(again.secondSheetOpened) << "a second sheet opened";
        if (GetParam() == Delivery::Sent) {
            EXPECT_TRUE(WaitUntil([&] { return sentCommandReturned; }, 3000));
        }

        EXPECT_EQ(page, script.CurrentPage(sheet));
        EXPECT_TRUE(ButtonChecked(page, IDC_PROFILE_LOGON));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        EXPECT_EQ("first secret", ControlText(page, IDC_PASSWORD));
        SetText(page, IDC_PASSWORD, "typed later");
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    ExpectStored(0, "Beta", "typed later");
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPIInitialize"));
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPIUninitialize"));
}

INSTANTIATE_TEST_SUITE_P(Ways, SecondRequest, testing::Values(Delivery::Sent, Delivery::Posted));

TEST_F(SettingsSheet, SheetHasItsButtonsAndIsOwnedByMessenger)
{
    AddProfilesABC();
    Start();
    WithSheet([&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ(messenger, GetWindow(sheet, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(messenger));  // modal
        EXPECT_NE(nullptr, GetDlgItem(sheet, IDOK));
        EXPECT_NE(nullptr, GetDlgItem(sheet, IDCANCEL));
        EXPECT_NE(nullptr, GetDlgItem(sheet, 0x3021));  // Apply
        EXPECT_NE(nullptr, GetDlgItem(sheet, IDHELP));
        EXPECT_FALSE(GetWindowLongA(sheet, GWL_EXSTYLE) & WS_EX_CONTEXTHELP);
        EXPECT_EQ("Logon", WindowText(page));
        EXPECT_EQ("Test logon", ControlText(page, IDC_TEST_LOGON));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_TRUE(IsWindowEnabled(messenger));
}
