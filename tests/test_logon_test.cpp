// "Test logon" pressed on the real Logon page inside the real sheet: the message box the user
// reads (caption, text, icon) and what MAPI was asked.
#include "tests/mapi_support.h"
#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "res/resource.h"

#include <gtest/gtest.h>

using namespace rig;

namespace {

const char ExchangeHeader[] = "We are successfully logged to Microsoft Exchange account.\r\n\r\n";
const char NotExchangeHeader[] =
    "We are successfully logged, but it is not Microsoft Exchange server. Please, check information below.\r\n\r\n";
const char NoStoreText[] =
    "We are successfully logged, but unable to get access to messages store and get information about service type. "
    "It is possible, that this error is temporary.\r\n\r\nNote, that Outlook 2000/XP or later should be set as "
    "default mailer to provide MAPI service for addin.";

std::string Block(const std::string& service, const std::string& account, const std::string& user,
                  const std::string& email, const std::string& smtp)
{
    return ReportBlock({"Service", "Account", "User name", "E-mail", "SMTP e-mail"}, service, account, user, email, smtp);
}

struct Outcome {
    std::string caption;
    std::string text;
    UINT icon = 0;
    HWND owner = nullptr;
    HWND page = nullptr;
    HWND sheet = nullptr;
    bool shown = false;
    HCURSOR cursorAtReport = nullptr;   // the thread's cursor while the box shows
    SecondSettings settingsAgain;       // "Settings..." again while the box shows, when asked
};

class TestLogon : public MapiCase {
protected:
    HWND messenger = nullptr;


    // A default profile "Work" with one default store served by `provider`, full identity.
    static int WorkProfile(const MapiFixture::Text& provider = std::string("Microsoft Exchange Server"))
    {
        int work = MapiFixture::AddProfile(std::string("Work"), true);
        MapiFixture::AddStore(work, provider, true);
        MapiFixture::SetIdentity(work, std::string("John Doe"), std::string("/o=Dorvane/cn=jdoe"),
                                 std::string("jdoe"), std::string("john.doe@dorvane.example"));
        return work;
    }

    // Opens the sheet, chooses profile `index` with `password` typed (unsaved), presses
    // "Test logon", reads the box (with `settingsAgain`, chooses "Settings..." again while it
    // shows) and closes everything.
    Outcome Press(int index, const std::string& password, bool settingsAgain = false)
    {
        Outcome outcome;
        messenger = CreateMessenger();
        EXPECT_NE(nullptr, LoadModule(Language::English));
        EXPECT_TRUE(SandboxMapi::Load());
        EXPECT_TRUE(InjectAsHost());
        SandboxMapi::ResetLog();
        MessageRecorder recorder({PSM_CHANGED, PSM_UNCHANGED});
        WithSettingsSheet(messenger, SettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            outcome.page = page;
            outcome.sheet = sheet;
            script.Click(page, IDC_PROFILE_LOGON);
            EXPECT_TRUE(WaitUntil([&] { return ControlEnabled(page, IDC_TEST_LOGON); }));
            HWND list = GetDlgItem(page, IDC_PROFILE_LIST);
            SendMessageA(list, CB_SETCURSEL, index, 0);
            SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_PROFILE_LIST, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(list));
            SendMessageA(GetDlgItem(page, IDC_PASSWORD), WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(password.c_str()));
            recorder.Clear();
            SandboxMapi::ResetLog();
            // A cursor of its own before the click, away from the pointer: the wait cursor shows
            // only while MAPI works, and the box shows this one again.
            SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 2, GetSystemMetrics(SM_CYSCREEN) - 2);
            SetCursor(LoadCursor(nullptr, IDC_CROSS));
            script.Click(page, IDC_TEST_LOGON);
            HWND box = script.WaitForWindow("#32770", TestLogonCaption);
            if (box) {
                outcome.shown = true;
                outcome.cursorAtReport = GetCursor();
                outcome.caption = WindowText(box);
                outcome.text = script.MessageBoxText(box);
                outcome.icon = script.MessageBoxIcon(box);
                outcome.owner = GetWindow(box, GW_OWNER);
                // A session that was opened is logged off and gone before the box appears.
                if (SandboxMapi::Has("Session.QueryIdentity -> 0")) {
                    EXPECT_TRUE(SandboxMapi::Has("Release Session refs=0")) << SandboxMapi::Log();
                }
                if (settingsAgain)
                    outcome.settingsAgain = RequestSettingsAgain(script, sheet, box, [&] {
                        PostMessageW(messenger, WM_COMMAND, IDM_SETTINGS, 0);
                    });
                script.CloseMessageBox(box);
            }
            // The click reports nothing to the sheet.
            EXPECT_TRUE(Reports(recorder).empty()) << Describe(recorder.Messages());
            // MAPI was asked everything, the logon and the store and identity reads alike, while the
            // wait cursor showed, on every path.
            EXPECT_FALSE(SandboxMapi::Lines().empty());
            EXPECT_EQ(std::vector<std::string>{}, SandboxMapi::LinesWithoutWaitCursor()) << SandboxMapi::Log();
            if (box) {
                EXPECT_EQ(LoadCursor(nullptr, IDC_CROSS), outcome.cursorAtReport) << "the report shows another cursor";
            }
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        return outcome;
    }

    static std::vector<RecordedMessage> Reports(const MessageRecorder& recorder)
    {
        std::vector<RecordedMessage> reports;
        for (const RecordedMessage& message : recorder.Messages())
            if (message.sent)
                reports.push_back(message);
        return reports;
    }
};

std::string Hex8(HWND window)
{
    char text[16];
    wsprintfA(text, "%08x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

} // namespace

// ---- Logon failures ---------------------------------------------------------------------------

TEST_F(TestLogon, FailedLogonShowsItsCodeWithTheErrorIcon)
{
    int work = WorkProfile();
    MapiFixture::SetLogonResult(work, static_cast<HRESULT>(0x80040111L));
    Outcome outcome = Press(0, "pw");
    ASSERT_TRUE(outcome.shown);
    EXPECT_EQ(TestLogonCaption, outcome.caption);
    EXPECT_EQ("Logon error. Error code is 80040111.\r\n\r\nNote, that Outlook 2000/XP or later should be set as "
              "default mailer to provide MAPI service for addin.",
              outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), outcome.icon);
    EXPECT_FALSE(SandboxMapi::Has("Session.Logoff ui=0 flags=0"));
}

// The sheet waits on its report: a repeated "Settings..." shows the report, not the disabled sheet.
TEST_F(TestLogon, SettingsAgainWhileTheReportShowsBringsTheReportForward)
{
    WorkProfile();
    Outcome outcome = Press(0, "pw", true);
    ASSERT_TRUE(outcome.shown);
    EXPECT_TRUE(outcome.settingsAgain.cameForward);
    EXPECT_FALSE(outcome.settingsAgain.secondSheetOpened);
    EXPECT_EQ(1, SandboxMapi::CallCount("MAPILogonEx"));
    EXPECT_EQ(0, SandboxMapi::CallCount("MAPIInitialize")) << "MAPI was started again after the click";
}

TEST_F(TestLogon, ErrorCodeHasLowerCaseHexDigits)
{
    int work = WorkProfile();
    MapiFixture::SetLogonResult(work, static_cast<HRESULT>(0x8004011DL));
    Outcome outcome = Press(0, "");
    EXPECT_EQ(0u, outcome.text.find("Logon error. Error code is 8004011d.\r\n")) << outcome.text;
}

TEST_F(TestLogon, MapiReceivesTheSelectedProfileTypedPasswordAndPageWindow)
{
    MapiFixture::AddProfile(std::string("Other"), false);
    WorkProfile();
    SetSettingString("Password", "stored");
    Outcome outcome = Press(1, "typed secret");
    ASSERT_TRUE(outcome.shown);
    // The box belongs to the page; Windows makes the page's top-level window (the sheet) its owner.
    EXPECT_EQ(outcome.sheet, outcome.owner);
    EXPECT_TRUE(SandboxMapi::Has("MAPILogonEx ui=" + Hex8(outcome.page) +
                                 " profile=\"Work\" password=\"typed secret\" flags=23 -> 0"))
        << SandboxMapi::Log();
    EXPECT_EQ(1, SandboxMapi::CallCount("Session.Logoff"));
    EXPECT_TRUE(SandboxMapi::Has("Session.Logoff ui=0 flags=0"));
    EXPECT_TRUE(SandboxMapi::Has("Session.OpenEntry flags=10 -> 0"));
    EXPECT_TRUE(SandboxMapi::Has("Table.SetColumns tags=0fff0102,3400000b,3006001e flags=2 -> 0"));
    EXPECT_TRUE(SandboxMapi::Has("Table.Restrict prop=3400000b relop=4 value=1 flags=2 -> 0"));
    EXPECT_TRUE(SandboxMapi::Has("MailUser.GetProps tags=3001001e,3003001e,3a00001e,39fe001e flags=0 -> 0"));
    // Nothing written: the stored password stays, no other value appears.
    EXPECT_EQ(std::string("stored") + '\0', ReadSetting("Password").data);
    EXPECT_FALSE(ReadSetting("Profile").present);
    EXPECT_FALSE(ReadSetting("AutoLogon").present);
}

TEST_F(TestLogon, EmptyPasswordBoxPassesAnEmptyPassword)
{
    WorkProfile();
    Outcome outcome = Press(0, "");
    ASSERT_TRUE(outcome.shown);
    EXPECT_TRUE(SandboxMapi::Has("MAPILogonEx ui=" + Hex8(outcome.page) + " profile=\"Work\" password=\"\" flags=23 -> 0"))
        << SandboxMapi::Log();
}

// ---- Account reports ---------------------------------------------------------------------------

TEST_F(TestLogon, ExchangeStoreWithFullIdentity)
{
    WorkProfile();
    Outcome outcome = Press(0, "pw");
    ASSERT_TRUE(outcome.shown);
    EXPECT_EQ(std::string(ExchangeHeader) +
                  Block("Microsoft Exchange Server", "jdoe", "John Doe", "/o=Dorvane/cn=jdoe", "john.doe@dorvane.example"),
              outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), outcome.icon);
}

TEST_F(TestLogon, ExchangeTestRespectsLetterCase)
{
    WorkProfile(std::string("microsoft exchange server"));
    Outcome outcome = Press(0, "pw");
    EXPECT_EQ(std::string(NotExchangeHeader) +
                  Block("microsoft exchange server", "jdoe", "John Doe", "/o=Dorvane/cn=jdoe", "john.doe@dorvane.example"),
              outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), outcome.icon);
}

TEST_F(TestLogon, FirstExchangeRowDecidesAmongSeveralDefaultStores)
{
    int work = MapiFixture::AddProfile(std::string("Work"), true);
    MapiFixture::AddStore(work, std::string("Personal Folders"), true);
    MapiFixture::AddStore(work, std::string("Archive"), false);  // not a default store: filtered out
    MapiFixture::AddStore(work, std::string("Dorvane Exchange Server 5.5"), true);
    MapiFixture::AddStore(work, std::string("Later Exchange Server"), true);
    Outcome outcome = Press(0, "");
    EXPECT_EQ(std::string(ExchangeHeader) + Block("Dorvane Exchange Server 5.5", "n/a", "n/a", "n/a", "n/a"),
              outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), outcome.icon);
}

TEST_F(TestLogon, WithoutExchangeTheLastNamedRowFillsService)
{
    int work = MapiFixture::AddProfile(std::string("Work"), true);
    MapiFixture::AddStore(work, std::string("First store"), true);
    MapiFixture::AddStore(work, std::string("Second store"), true);
    MapiFixture::AddStore(work, std::nullopt, true);
    Outcome outcome = Press(0, "");
    EXPECT_EQ(std::string(NotExchangeHeader) + Block("Second store", "n/a", "n/a", "n/a", "n/a"), outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), outcome.icon);
}

TEST_F(TestLogon, DefaultStoreWithoutProviderNameShowsThePlaceholder)
{
    int work = WorkProfile(std::nullopt);
    MapiFixture::SetIdentity(work, std::string("John Doe"), std::nullopt, std::string("jdoe"), std::nullopt);
    Outcome outcome = Press(0, "");
    EXPECT_EQ(std::string(NotExchangeHeader) + Block("n/a", "jdoe", "John Doe", "n/a", "n/a"), outcome.text);
}

TEST_F(TestLogon, NoDefaultStoreGivesTheStoreMessageAloneEvenWithAnIdentity)
{
    int work = MapiFixture::AddProfile(std::string("Work"), true);
    MapiFixture::AddStore(work, std::string("Microsoft Exchange Server"), false);
    MapiFixture::SetIdentity(work, std::string("John Doe"), std::string("x"), std::string("y"), std::string("z"));
    Outcome outcome = Press(0, "");
    EXPECT_EQ(NoStoreText, outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), outcome.icon);
    EXPECT_TRUE(SandboxMapi::Has("MailUser.GetProps tags=3001001e,3003001e,3a00001e,39fe001e flags=0 -> 0"));
}

class StoreStepFailure : public TestLogon, public testing::WithParamInterface<const char*> {};

TEST_P(StoreStepFailure, GivesTheStoreMessage)
{
    WorkProfile();
    MapiFixture::SetStep(GetParam(), static_cast<HRESULT>(0x80004005L));
    Outcome outcome = Press(0, "");
    EXPECT_EQ(NoStoreText, outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), outcome.icon);
    EXPECT_EQ(1, SandboxMapi::CallCount("Session.Logoff"));
}

INSTANTIATE_TEST_SUITE_P(Steps, StoreStepFailure,
                         testing::Values("FailGetMsgStoresTable", "FailStoreSetColumns", "FailRestrict",
                                         "FailStoreQueryRows"));

class IdentityStepFailure : public TestLogon, public testing::WithParamInterface<const char*> {};

TEST_P(IdentityStepFailure, KeepsThePlaceholders)
{
    WorkProfile();
    MapiFixture::SetStep(GetParam(), static_cast<HRESULT>(0x80004005L));
    Outcome outcome = Press(0, "");
    EXPECT_EQ(std::string(ExchangeHeader) + Block("Microsoft Exchange Server", "n/a", "n/a", "n/a", "n/a"), outcome.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), outcome.icon);
}

INSTANTIATE_TEST_SUITE_P(Steps, IdentityStepFailure,
                         testing::Values("FailQueryIdentity", "FailOpenEntry", "FailQueryInterface", "FailGetProps"));

TEST_F(TestLogon, IdentityThatIsNoMailUserKeepsThePlaceholders)
{
    int work = WorkProfile();
    MapiFixture::SetIdentityNotMailUser(work);
    Outcome outcome = Press(0, "");
    EXPECT_EQ(std::string(ExchangeHeader) + Block("Microsoft Exchange Server", "n/a", "n/a", "n/a", "n/a"), outcome.text);
}

TEST_F(TestLogon, OverlongValuesAreCutAndTheBoxStillShows)
{
    int work = WorkProfile(std::string("Exchange Server ") + std::string(5000, 's'));
    std::string huge(5000, 'v');
    MapiFixture::SetIdentity(work, huge, huge, huge, huge);
    Outcome outcome = Press(0, "");
    ASSERT_TRUE(outcome.shown);
    EXPECT_EQ(0u, outcome.text.find(ExchangeHeader));
    EXPECT_NE(std::string::npos, outcome.text.find("Service: Exchange Server sss"));
    EXPECT_EQ(std::string::npos, outcome.text.find(std::string(500, 's')));  // Service holds at most 499
    EXPECT_EQ(std::string::npos, outcome.text.find(std::string(300, 'v')));  // the others at most 299
    EXPECT_LT(outcome.text.size(), 2000u);
}
