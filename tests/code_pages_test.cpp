// The interface on either ANSI code page: tests/code_pages_test.env runs every case here once
// under 1251 (Cyrillic) and once under 1252 (Western European). The Russian interface must read
// the same on both, everything read back as UTF-16; the English one stays English; and the
// settings and MAPI traffic stay ANSI, byte for byte, whatever the page.
#include "tests/about_links_support.h"
#include "tests/help_support.h"
#include "tests/mapi_support.h"
#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

using namespace rig;

namespace {

const char RussianBoxCaption[] = "Тестовый вход на сервер Microsoft Exchange";
const char RussianAboutCaption[] = "О плагине Orvella для Windows Messenger...";
const char RussianNote[] =
    "Обратите внимание, что Outlook 2000/XP или более поздний должен быть установлен как почтовая программа по "
    "умолчанию.";

const ReportLabels RussianLabels = {"Сервис", "Аккаунт", "Имя пользователя", "Эл. почта", "Эл. почта (SMTP)"};

// Texts in letters beyond ASCII that the running ANSI code page has: Cyrillic on 1251, Western
// European on 1252. MAPI and the registry hold them as that page's bytes.
bool Cyrillic()
{
    return GetACP() == 1251;
}
std::string LocalUser() { return Cyrillic() ? "Иван Петров" : "Jörg Müller"; }
std::string LocalProfile() { return Cyrillic() ? "Работа" : "Büro"; }
std::string LocalPassword() { return Cyrillic() ? "пароль№1" : "pässwörd€1"; }
std::string OtherLocalPassword() { return Cyrillic() ? "Ёжик в тумане" : "Ça va très bien"; }

struct Report { std::string caption; std::string text; UINT icon = 0; };

class CodePages : public MapiCase {
protected:
    HWND messenger = nullptr;

    void SetUp() override
    {
        MapiCase::SetUp();
        // The local texts must be the running page's own letters, or nothing here is tested.
        for (const std::string& text : {LocalUser(), LocalProfile(), LocalPassword(), OtherLocalPassword()})
            ASSERT_EQ(text, FromAnsi(Ansi(text))) << "not in code page " << GetACP();
    }

    void Start(Language language)
    {
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, LoadModule(language));
        ASSERT_TRUE(SandboxMapi::Load()) << "the MAPI provider stand-in is not loaded";
        ASSERT_TRUE(InjectAsHost());
        SandboxMapi::ResetLog();
    }

    // Chooses "Settings..." and runs body on the sheet's page; body presses a closing button.
    void WithSheet(const char* caption, const std::function<void(ModalScript&, HWND sheet, HWND page)>& body)
    {
        WithSettingsSheet(messenger, caption, body);
    }

    // Presses "Test logon" on the page as it stands and reads the box that answers.
    static Report PressTestLogon(ModalScript& script, HWND page, const char* boxCaption)
    {
        Report report;
        script.Click(page, IDC_TEST_LOGON);
        HWND box = script.WaitForWindow("#32770", boxCaption);
        if (!box)
            return report;
        report.caption = WindowText(box);
        report.text = script.MessageBoxText(box);
        report.icon = script.MessageBoxIcon(box);
        script.CloseMessageBox(box);
        return report;
    }

    // The Russian sheet with profile logon chosen, "Test logon" pressed once.
    Report RussianTestLogon()
    {
        Report report;
        SetSettingDword("AutoLogon", 0);
        Start(Language::Russian);
        WithSheet(RussianSettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            EXPECT_TRUE(ControlEnabled(page, IDC_TEST_LOGON));
            report = PressTestLogon(script, page, RussianBoxCaption);
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        return report;
    }

    // The local profile, with one default store served by `provider` and the given user.
    static int Profile(const std::string& provider, const MapiFixture::Text& user, bool isDefault = true)
    {
        int profile = MapiFixture::AddProfile(Ansi(LocalProfile()), isDefault);
        MapiFixture::AddStore(profile, provider, true);
        MapiFixture::SetIdentity(profile, user ? MapiFixture::Text(Ansi(*user)) : std::nullopt,
                                 std::string("/o=Dorvane/cn=ivan"), std::string("ivan"), std::nullopt);
        return profile;
    }
};

// The popup of the product menu in Messenger's bar and its items, read with GetMenuItemInfoW.
std::vector<MenuItem> ProductItems(HWND messenger)
{
    for (const MenuItem& item : MenuItems(GetMenu(messenger)))
        if (item.popup && item.text == "Orvella")
            return MenuItems(item.submenu);
    return {};
}

void ExpectItems(HWND messenger, const std::vector<std::pair<UINT, std::string>>& expected)
{
    std::vector<MenuItem> items = ProductItems(messenger);
    ASSERT_EQ(expected.size(), items.size()) << "no \"Orvella\" popup, or other items";
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(expected[i].first, items[i].id) << "item " << i;
        EXPECT_EQ(expected[i].second, items[i].text) << "item " << i;
        EXPECT_EQ(expected[i].second.empty(), items[i].separator) << "item " << i;
    }
}

} // namespace

// ---- The Russian interface ---------------------------------------------------------------------

TEST_F(CodePages, RussianMenu)
{
    Start(Language::Russian);
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    ExpectItems(messenger, {{IDM_SETTINGS, "Настройка..."},
                            {IDM_HELP, "Справка..."},
                            {0, ""},
                            {IDM_HOMEPAGE, "Сайт в Интернет"},
                            {IDM_ABOUT, "О программе..."}});
}

TEST_F(CodePages, RussianSheetCaptionTabAndPageTexts)
{
    MapiFixture::AddProfile(std::string("Exchange"), false);
    MapiFixture::AddProfile(Ansi(LocalProfile()), true);
    SetSettingDword("AutoLogon", 0);
    SetSettingString("Profile", Ansi(LocalProfile()));
    Start(Language::Russian);
    WithSheet(RussianSettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ(RussianSettingsCaption, WindowText(sheet));
        EXPECT_EQ("Подключение", SheetTabText(sheet, 0));
        EXPECT_EQ("Автоматически подключаться к серверу Microsoft Exchange. Операционная система может спросить "
                  "имя профиля.",
                  ControlText(page, IDC_AUTO_LOGON));
        EXPECT_EQ("Вход с использованием указанного профиля, их список доступен в аплете Почта в Панели "
                  "Управления.",
                  ControlText(page, IDC_PROFILE_LOGON));
        EXPECT_EQ("Тестовый вход", ControlText(page, IDC_TEST_LOGON));
        EXPECT_EQ((std::vector<std::string>{
                      "Профиль", "Пароль (можно пустой)",
                      "Укажите метод доступа плагина Orvella к почтовым папкам на сервере Microsoft Exchange.",
                      "Настройки будут применены при следующем подключении Messenger к службе Exchange Instant "
                      "Messaging или при отключении/подключении плагина через меню Tools\\Add-Ins. "}),
                  LabelTexts(page));
        // The profile names MAPI gave in the ANSI page show as that page's letters.
        EXPECT_EQ((std::vector<std::string>{"Exchange", LocalProfile()}), ComboItems(page, IDC_PROFILE_LIST));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
}

TEST_F(CodePages, RussianLogonErrorReport)
{
    int profile = Profile("Microsoft Exchange Server", LocalUser());
    MapiFixture::SetLogonResult(profile, static_cast<HRESULT>(0x80040111L));
    Report report = RussianTestLogon();
    EXPECT_EQ(RussianBoxCaption, report.caption);
    EXPECT_EQ(std::string("Ошибка с кодом 80040111.\r\n\r\n") + RussianNote, report.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), report.icon);
}

TEST_F(CodePages, RussianExchangeReportShowsTheValues)
{
    Profile("Microsoft Exchange Server", LocalUser());
    Report report = RussianTestLogon();
    EXPECT_EQ(RussianBoxCaption, report.caption);
    EXPECT_EQ("Мы успешно зашли в аккаунт Microsoft Exchange.\r\n\r\n" +
                  ReportBlock(RussianLabels, "Microsoft Exchange Server", "ivan", LocalUser(), "/o=Dorvane/cn=ivan", "н/д"),
              report.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), report.icon);
}

TEST_F(CodePages, RussianNotExchangeReportShowsThePlaceholder)
{
    Profile("Personal Folders", std::nullopt);
    Report report = RussianTestLogon();
    EXPECT_EQ("Вход в аккаунт произведен успешно, но это не сервер Microsoft Exchange. Пожалуйста, проверьте "
              "информацию:\r\n\r\n" +
                  ReportBlock(RussianLabels, "Personal Folders", "ivan", "н/д", "/o=Dorvane/cn=ivan", "н/д"),
              report.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), report.icon);
}

TEST_F(CodePages, RussianNoStoreReport)
{
    int profile = MapiFixture::AddProfile(Ansi(LocalProfile()), true);
    MapiFixture::AddStore(profile, std::string("Microsoft Exchange Server"), false);
    Report report = RussianTestLogon();
    EXPECT_EQ(RussianBoxCaption, report.caption);
    EXPECT_EQ(std::string("Вход в аккаунт произведен успешно, но невозможно получить доступ к хранилищу "
                          "сообщений.\r\n\r\n") + RussianNote,
              report.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), report.icon);
}

TEST_F(CodePages, RussianAboutCaptionVersionAndLabels)
{
    Start(Language::Russian);
    RunModal([&] { EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, IDM_ABOUT, 0)); },
             [&](ModalScript& script) {
                 HWND dialog = script.WaitForWindow("#32770", RussianAboutCaption);
                 if (!dialog)
                     return;
                 EXPECT_EQ("1.0, выпущена 4 февраля 2003 года", ControlText(dialog, IDC_VERSION_TEXT));
                 EXPECT_EQ((std::vector<std::string>{"© 2003 Dorvane Ltd. Все права защищены.", "Сайт:", "Поддержка:",
                                                     "Версия:"}),
                           LabelTexts(dialog));
                 EXPECT_EQ("support@dorvane.example", ControlText(dialog, IDC_SUPPORT_LINK));
                 EXPECT_EQ("www.dorvane.example/ru", ControlText(dialog, IDC_HOMEPAGE_LINK));
                 script.Click(dialog, IDOK);
                 script.WaitForClose(dialog);
             });
}

TEST_F(CodePages, RussianHomepageCarriesTheTagOfTheRussianVersionText)
{
    // No browser start: the handler names a program that does not exist.
    about_support::UrlHandler handler("https", "\"C:\\orvella-no-browser.exe\" \"%1\"");
    ASSERT_TRUE(handler.Swapped());
    Start(Language::Russian);
    ASSERT_TRUE(about_support::WatchShellRequests(Module()));
    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, IDM_HOMEPAGE, 0));
    Pump(20);
    ASSERT_EQ(1u, about_support::ShellRequests().size());
    EXPECT_EQ("https://www.dorvane.example/ru/orvella?forv_10", about_support::ShellRequests()[0].file);
}

TEST_F(CodePages, RussianHelpComesFromTheRussianFolder)
{
    Start(Language::Russian);
    help_support::UseHelpControlFrom(Module(), "help-recorder");
    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, IDM_HELP, 0));
    Pump(20);
    std::vector<HhRecorderCall> calls = help_support::RecordedCalls();
    ASSERT_EQ(2u, calls.size());
    std::string address = calls[1].file;
    EXPECT_EQ(help_support::OutputFolder() + "Orvella.chm::/htmls_r/Intro.htm", address);
}

// The module and its help file in a folder with a Cyrillic name, as under a Russian user's
// profile; code page 1252 cannot spell it. The module still pins itself and installs its menu, and
// the help viewer, which takes ANSI paths, is given one that reaches the help file beside it: the
// folder as it is where the code page spells it, its short form where it does not.
TEST_F(CodePages, ModuleInAFolderOfCyrillicNameStaysAndFindsItsHelp)
{
    wchar_t temp[MAX_PATH] = L"";
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    std::wstring folder = std::wstring(temp) + L"Сергей " + std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring output = Wide(help_support::OutputFolder());
    for (const wchar_t* file : {L"OrvlHook.dll", L"Orvella.chm"})
        ASSERT_TRUE(CopyFileW((output + file).c_str(), (folder + file).c_str(), FALSE)) << Utf8(file);
    std::wstring path = folder + L"OrvlHook.dll";

    messenger = CreateMessenger();
    SetSettingDword("Lang", 0);
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module);
    help_support::UseHelpControlFrom(module, "help-recorder");
    ASSERT_TRUE(about_support::InjectCopy(module));
    EXPECT_TRUE(EventExists(sandbox::HookInstalledEventName));
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    FreeLibrary(module);
    EXPECT_EQ(module, GetModuleHandleW(path.c_str())) << "the module did not pin itself";

    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, IDM_HELP, 0));
    Pump(20);
    std::vector<HhRecorderCall> calls = help_support::RecordedCalls();
    ASSERT_EQ(2u, calls.size());
    std::string address = calls[1].file;
    const std::string topic = "::/htmls/Intro.htm";
    ASSERT_GT(address.size(), topic.size());
    ASSERT_EQ(topic, address.substr(address.size() - topic.size()));
    std::string helpFile = address.substr(0, address.size() - topic.size());
    if (Cyrillic()) {
        EXPECT_EQ(Ansi(Utf8(folder)) + "Orvella.chm", helpFile);
    }
    EXPECT_EQ(std::string::npos, helpFile.find('?')) << helpFile;
    EXPECT_TRUE(help_support::SameFile(folder + L"Orvella.chm", helpFile)) << helpFile;
}

// ---- The English interface ---------------------------------------------------------------------

TEST_F(CodePages, EnglishStaysEnglish)
{
    Start(Language::English);
    ExpectItems(messenger, {{IDM_SETTINGS, "Settings..."},
                            {IDM_HELP, "Help..."},
                            {0, ""},
                            {IDM_HOMEPAGE, "Internet Homepage"},
                            {IDM_ABOUT, "About Orvella..."}});
    WithSheet(SettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ("Logon", SheetTabText(sheet, 0));
        EXPECT_EQ("Test logon", ControlText(page, IDC_TEST_LOGON));
        EXPECT_EQ("Profile", LabelTexts(page).at(0));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    RunModal([&] { SendMessageA(messenger, WM_COMMAND, IDM_ABOUT, 0); },
             [&](ModalScript& script) {
                 HWND dialog = script.WaitForWindow("#32770", "About Orvella Add-in for Windows Messenger...");
                 if (!dialog)
                     return;
                 EXPECT_EQ("1.0, released on February 4, 2003", ControlText(dialog, IDC_VERSION_TEXT));
                 script.Click(dialog, IDOK);
                 script.WaitForClose(dialog);
             });
}

// ---- ANSI settings and MAPI traffic ------------------------------------------------------------

TEST_F(CodePages, LocalProfileAndPasswordAreListedTestedSavedAndReadBackByteForByte)
{
    MapiFixture::AddProfile(std::string("Exchange"), true);
    Profile("Microsoft Exchange Server", LocalUser(), false);
    SetSettingDword("AutoLogon", 0);
    SetSettingString("Profile", Ansi(LocalProfile()));
    SetSettingString("Password", Ansi(LocalPassword()));
    Start(Language::Russian);
    MessageRecorder recorder({PSM_CHANGED, PSM_UNCHANGED});
    WithSheet(RussianSettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
        EXPECT_EQ((std::vector<std::string>{"Exchange", LocalProfile()}), ComboItems(page, IDC_PROFILE_LIST));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        EXPECT_EQ(LocalPassword(), ControlText(page, IDC_PASSWORD));
        // The stored bytes and the controls agree: nothing to apply.
        ASSERT_FALSE(recorder.Messages().empty());
        EXPECT_EQ(static_cast<UINT>(PSM_UNCHANGED), recorder.Messages().back().message);

        Report report = PressTestLogon(script, page, RussianBoxCaption);
        EXPECT_TRUE(SandboxMapi::Has("MAPILogonEx ui=" + [&] {
            char hex[16];
            wsprintfA(hex, "%08x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(page)));
            return std::string(hex);
        }() + " profile=\"" + Ansi(LocalProfile()) + "\" password=\"" + Ansi(LocalPassword()) + "\" flags=23 -> 0"))
            << SandboxMapi::Log();
        EXPECT_NE(std::string::npos, report.text.find("Имя пользователя: " + LocalUser() + "\r\n")) << report.text;

        SetControlText(page, IDC_PASSWORD, OtherLocalPassword());
        EXPECT_EQ(static_cast<UINT>(PSM_CHANGED), recorder.Messages().back().message);
        script.PressSheetButton(sheet, PSBTN_APPLYNOW);
        EXPECT_TRUE(WaitUntil([&] { return ReadSetting("Password").data == Ansi(OtherLocalPassword()) + '\0'; }));
        // Read back after the apply: the same texts, unchanged.
        EXPECT_EQ(OtherLocalPassword(), ControlText(page, IDC_PASSWORD));
        EXPECT_EQ(1, ComboSelection(page, IDC_PROFILE_LIST));
        EXPECT_EQ(static_cast<UINT>(PSM_UNCHANGED), recorder.Messages().back().message);
        script.PressSheetButton(sheet, PSBTN_OK);
    });
    RegValue profile = ReadSetting("Profile");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), profile.type);
    EXPECT_EQ(Ansi(LocalProfile()) + '\0', profile.data);
    RegValue password = ReadSetting("Password");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), password.type);
    EXPECT_EQ(Ansi(OtherLocalPassword()) + '\0', password.data);
}

TEST_F(CodePages, CancelKeepsEveryStoredByte)
{
    MapiFixture::AddProfile(std::string("Exchange"), true);
    // Every byte from 0x01 to 0xFF, some of them undefined in one page or the other.
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    SetSettingDword("AutoLogon", 0);
    SetSettingRaw("Profile", REG_SZ, everyByte.c_str(), static_cast<DWORD>(everyByte.size() + 1));
    SetSettingRaw("Password", REG_SZ, everyByte.c_str(), static_cast<DWORD>(everyByte.size() + 1));
    RegValue profileBefore = ReadSetting("Profile");
    RegValue passwordBefore = ReadSetting("Password");
    ASSERT_EQ(everyByte + '\0', passwordBefore.data);
    Start(Language::Russian);
    WithSheet(RussianSettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
        // Shown as the ANSI page reads those bytes.
        EXPECT_EQ(FromAnsi(everyByte), ControlText(page, IDC_PASSWORD));
        script.PressSheetButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(profileBefore.data, ReadSetting("Profile").data);
    EXPECT_EQ(passwordBefore.data, ReadSetting("Password").data);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), ReadSetting("Password").type);
}
