// The version tag and the web links: Messenger's "Internet Homepage" command and the About
// dialog's support label, checked at the browser stand-in that the shell starts. Other version
// texts, addresses and a missing version block come from patched copies of the module.
#include "tests/about_links_support.h"
#include "tests/rig/rig.h"
#include "sandbox/browser/browser_log.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace rig;
using namespace about_support;
using sandbox_browser::ReadLog;

namespace {

const char EnglishHomepage[] = "https://www.dorvane.example/orvella";
const char RussianHomepage[] = "https://www.dorvane.example/ru/orvella";
const char EnglishSupport[] = "https://support.dorvane.example/orvella";
const char EnglishAboutCaption[] = "About Orvella Add-in for Windows Messenger...";

// Messenger with the shipped module injected; the shell requests of the module are recorded.
HWND InjectedMessenger(Language language)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    HMODULE module = LoadModule(language);
    EXPECT_NE(nullptr, module);
    EXPECT_TRUE(InjectAsHost());
    EXPECT_TRUE(module && WatchShellRequests(module));
    Pump(20);
    return messenger;
}

// Messenger with a patched copy injected instead.
HWND MessengerWithCopy(const std::string& copy, bool russian)
{
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    HMODULE module = LoadCopy(copy, russian);
    EXPECT_NE(nullptr, module) << "copy did not load, error " << GetLastError();
    EXPECT_TRUE(module && InjectCopy(module));
    EXPECT_TRUE(module && WatchShellRequests(module));
    Pump(20);
    return messenger;
}

// Chooses "Internet Homepage" and returns the one address the browser stand-in received.
std::string OpenHomepageFromMenu(HWND messenger, const std::string& log)
{
    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(IDM_HOMEPAGE, 0), 0));
    EXPECT_TRUE(WaitForBrowserLines(log, 1, BrowserTimeoutMs)) << "the browser stand-in was not started";
    Linger(NoBrowserMs / 2);
    std::vector<std::string> lines = ReadLog(log);
    EXPECT_EQ(1u, lines.size());
    return lines.empty() ? std::string() : lines[0];
}

// Opens the About dialog, double-clicks its support label and returns what the browser received.
std::string OpenSupportFromAbout(HWND messenger, const std::string& log, const char* caption)
{
    std::vector<std::string> lines;
    RunModal([&] { SendMessageA(messenger, WM_COMMAND, IDM_ABOUT, 0); },
             [&](ModalScript& script) {
                 HWND dialog = script.WaitForWindow("#32770", caption);
                 if (!dialog)
                     return;
                 HWND label = GetDlgItem(dialog, IDC_SUPPORT_LINK);
                 PostMessageA(label, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 3));
                 EXPECT_TRUE(WaitForBrowserLines(log, 1, BrowserTimeoutMs)) << "the browser stand-in was not started";
                 Linger(NoBrowserMs / 2);
                 lines = ReadLog(log);
                 script.Click(dialog, IDOK);
                 script.WaitForClose(dialog);
             });
    EXPECT_EQ(1u, lines.size());
    return lines.empty() ? std::string() : lines[0];
}

std::string PatchedCopy(const char* name)
{
    std::string copy = CopyModule(name);
    EXPECT_FALSE(copy.empty()) << "could not copy " << ShippedModulePath();
    return copy;
}

std::string Repeat(char c, size_t count)
{
    return std::string(count, c);
}

} // namespace

// ---- The homepage command ------------------------------------------------------------------------

TEST(HomepageCommand, OpensEnglishHomepageWithVersionTag)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);

    std::string opened = OpenHomepageFromMenu(messenger, log);

    EXPECT_EQ(ModuleString(IDS_HOMEPAGE_ADDRESS) + "?forv_10", opened);
    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_10", opened);
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands) << "the command also reached Messenger";
    ASSERT_EQ(1u, ShellRequests().size());
    EXPECT_EQ(messenger, ShellRequests()[0].owner);
    EXPECT_EQ("open", ShellRequests()[0].verb);
    EXPECT_FALSE(ShellRequests()[0].parameters);
    EXPECT_FALSE(ShellRequests()[0].directory);
    EXPECT_EQ(SW_SHOWNORMAL, ShellRequests()[0].show);
}

TEST(HomepageCommand, OpensRussianHomepageWithVersionTag)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::Russian);

    std::string opened = OpenHomepageFromMenu(messenger, log);

    EXPECT_EQ(ModuleString(IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET) + "?forv_10", opened);
    EXPECT_EQ(std::string(RussianHomepage) + "?forv_10", opened);
}

TEST(HomepageCommand, EachChoiceOpensTheHomepageAgain)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);

    SendMessageA(messenger, WM_COMMAND, IDM_HOMEPAGE, 0);
    SendMessageA(messenger, WM_COMMAND, IDM_HOMEPAGE, 0);

    ASSERT_TRUE(WaitForBrowserLines(log, 2, BrowserTimeoutMs));
    std::vector<std::string> lines = ReadLog(log);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_10", lines[0]);
    EXPECT_EQ(lines[0], lines[1]) << "the tag must not pile up from one opening to the next";
}

TEST(HomepageCommand, AddressWithFragmentIsStillTagged)
{
    std::string copy = PatchedCopy("OrvlHook_fragment");
    ASSERT_TRUE(SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, "https://www.dorvane.example/orvella#top"}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ("https://www.dorvane.example/orvella#top?forv_10", OpenHomepageFromMenu(messenger, log));
}

TEST(HomepageCommand, MailAddressIsStillTagged)
{
    std::string copy = PatchedCopy("OrvlHook_homemail");
    ASSERT_TRUE(SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, "mailto:office@dorvane.example"}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ("mailto:office@dorvane.example?forv_10", OpenHomepageFromMenu(messenger, log));
}

// ---- The version tag ---------------------------------------------------------------------------

TEST(VersionTag, MissingVersionBlockLeavesTagEmpty)
{
    std::string copy = PatchedCopy("OrvlHook_noversion");
    ASSERT_TRUE(RemoveVersionBlock(copy));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_", OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, TakesOnlyDigitsBeforeTheFirstComma)
{
    std::string copy = PatchedCopy("OrvlHook_digits");
    ASSERT_TRUE(SetFileVersionTexts(copy, "v2.5 (build 31) beta, 2003, 7", "9.9, 2003"));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_2531", OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, RussianTagComesFromRussianVersionText)
{
    std::string copy = PatchedCopy("OrvlHook_rutag");
    ASSERT_TRUE(SetFileVersionTexts(copy, "7.7, released", "3.1, выпущена 5 мая 2004 года"));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, true);

    EXPECT_EQ(std::string(RussianHomepage) + "?forv_31", OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, TextWithoutCommaGivesAllItsDigits)
{
    std::string copy = PatchedCopy("OrvlHook_nocomma");
    ASSERT_TRUE(SetFileVersionTexts(copy, "1.0.0.2", "1.0.0.2"));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_1002", OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, TextStartingWithCommaGivesEmptyTag)
{
    std::string copy = PatchedCopy("OrvlHook_comma");
    ASSERT_TRUE(SetFileVersionTexts(copy, ", 1.0", ", 1.0"));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_", OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, KeepsAtMostFiftyOneDigits)
{
    std::string digits;
    for (int i = 0; i < 70; ++i)
        digits += static_cast<char>('0' + i % 10);
    std::string copy = PatchedCopy("OrvlHook_longtag");
    ASSERT_TRUE(SetFileVersionTexts(copy, digits + ", released", digits));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_" + digits.substr(0, 51), OpenHomepageFromMenu(messenger, log));
}

TEST(VersionTag, OverlongVersionTextIsCutBeforeTheWalk)
{
    // 299 characters fit the version buffer; the digits behind them are never seen.
    std::string text = "1" + Repeat('x', 297) + "2" + "345, released";
    std::string copy = PatchedCopy("OrvlHook_longversion");
    ASSERT_TRUE(SetFileVersionTexts(copy, text, text));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + "?forv_12", OpenHomepageFromMenu(messenger, log));
}

// ---- Addresses that do not fit the link buffer -------------------------------------------------

TEST(LinkLength, AddressThatJustTakesTheTagIsTagged)
{
    // 291 characters + "?forv_10" = 299, the most the 300-byte link buffer holds.
    std::string address = "https://www.dorvane.example/" + Repeat('a', 291 - 28);
    ASSERT_EQ(291u, address.size());
    std::string copy = PatchedCopy("OrvlHook_fits");
    ASSERT_TRUE(SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, address}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(address + "?forv_10", OpenHomepageFromMenu(messenger, log));
}

TEST(LinkLength, AddressOneTooLongForTheTagIsOpenedUntagged)
{
    std::string address = "https://www.dorvane.example/" + Repeat('b', 292 - 28);
    ASSERT_EQ(292u, address.size());
    std::string copy = PatchedCopy("OrvlHook_nofit");
    ASSERT_TRUE(SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, address}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(address, OpenHomepageFromMenu(messenger, log));
}

TEST(LinkLength, OverlongAddressIsCutToTheBufferAndOpenedUntagged)
{
    std::string address = "https://www.dorvane.example/" + Repeat('c', 400);
    std::string copy = PatchedCopy("OrvlHook_overlong");
    ASSERT_TRUE(SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, address}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(address.substr(0, 299), OpenHomepageFromMenu(messenger, log));
}

TEST(LinkLength, OverlongSupportAddressIsCutAndOpenedUntagged)
{
    std::string address = "https://support.dorvane.example/" + Repeat('d', 400);
    std::string copy = PatchedCopy("OrvlHook_longsupport");
    ASSERT_TRUE(SetStrings(copy, {{IDS_SUPPORT_ADDRESS, address}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(address.substr(0, 299), OpenSupportFromAbout(messenger, log, EnglishAboutCaption));
}

// ---- The support link --------------------------------------------------------------------------

TEST(SupportLink, EnglishWebAddressIsTagged)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);

    std::string opened = OpenSupportFromAbout(messenger, log, EnglishAboutCaption);

    EXPECT_EQ(ModuleString(IDS_SUPPORT_ADDRESS) + "?forv_10", opened);
    EXPECT_EQ(std::string(EnglishSupport) + "?forv_10", opened);
}

TEST(SupportLink, RussianMailAddressIsOpenedAsWritten)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::Russian);

    std::string opened = OpenSupportFromAbout(messenger, log, "О плагине Orvella для Windows Messenger...");

    EXPECT_EQ(ModuleString(IDS_SUPPORT_ADDRESS + RUSSIAN_ID_OFFSET), opened);
    EXPECT_EQ("mailto:support@dorvane.example", opened);
}

TEST(SupportLink, AddressWithFragmentIsOpenedAsWritten)
{
    std::string copy = PatchedCopy("OrvlHook_supportfragment");
    ASSERT_TRUE(SetStrings(copy, {{IDS_SUPPORT_ADDRESS, "https://support.dorvane.example/orvella#contact"}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ("https://support.dorvane.example/orvella#contact",
              OpenSupportFromAbout(messenger, log, EnglishAboutCaption));
}

TEST(SupportLink, MailtoAnywhereInTheAddressKeepsItUntagged)
{
    std::string copy = PatchedCopy("OrvlHook_supportmailto");
    ASSERT_TRUE(SetStrings(copy, {{IDS_SUPPORT_ADDRESS, "https://support.dorvane.example/write?to=mailto:help"}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ("https://support.dorvane.example/write?to=mailto:help",
              OpenSupportFromAbout(messenger, log, EnglishAboutCaption));
}

TEST(SupportLink, MailtoSearchIsCaseSensitive)
{
    std::string copy = PatchedCopy("OrvlHook_supportupper");
    ASSERT_TRUE(SetStrings(copy, {{IDS_SUPPORT_ADDRESS, "MAILTO:support@dorvane.example"}}));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ("MAILTO:support@dorvane.example?forv_10", OpenSupportFromAbout(messenger, log, EnglishAboutCaption));
}

TEST(SupportLink, MissingVersionBlockGivesBareTagMarker)
{
    std::string copy = PatchedCopy("OrvlHook_supportnoversion");
    ASSERT_TRUE(RemoveVersionBlock(copy));
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishSupport) + "?forv_", OpenSupportFromAbout(messenger, log, EnglishAboutCaption));
}

// ---- A version block that does not hold what the module asks for --------------------------------

namespace {

// Makes the English FileVersion value of the copy's version block claim `characters` characters,
// fewer than its text has.
bool ShortenEnglishFileVersion(const std::string& path, WORD characters)
{
    std::vector<ResourceEntry> entries = ReadResources(path);
    const std::wstring key = L"FileVersion";
    const BYTE* keyBytes = reinterpret_cast<const BYTE*>(key.c_str());
    for (ResourceEntry& entry : entries) {
        if (!entry.Is(VersionType, 1))
            continue;
        // A node is its length, its value's length and its type (a WORD each), then its key.
        auto found = std::search(entry.data.begin(), entry.data.end(), keyBytes, keyBytes + (key.size() + 1) * 2);
        if (found == entry.data.end() || found - entry.data.begin() < 6)
            return false;
        size_t valueLength = static_cast<size_t>(found - entry.data.begin()) - 4;
        entry.data[valueLength] = static_cast<BYTE>(characters & 0xFF);
        entry.data[valueLength + 1] = static_cast<BYTE>(characters >> 8);
        return WriteResources(path, entries);
    }
    return false;
}

} // namespace

// 0: the module's query names a value the block lacks; 1: the value claims only 3 of its characters.
class UnreadableVersion : public testing::TestWithParam<int> {};

TEST_P(UnreadableVersion, TagHoldsOnlyWhatTheBlockGives)
{
    const bool missingValue = GetParam() == 0;
    std::string copy = PatchedCopy(missingValue ? "OrvlHook_novalue" : "OrvlHook_shortvalue");
    ASSERT_TRUE(SetFileVersionTexts(copy, "12.34, released", "12.34, released"));
    if (missingValue) {
        ASSERT_TRUE(SetStrings(copy, {{IDS_VERSION_QUERY_PATH, "\\StringFileInfo\\040904B0\\NoSuchValue"}}));
    } else {
        ASSERT_TRUE(ShortenEnglishFileVersion(copy, 3));
    }
    std::string log = sandbox_browser::UseFreshLog();
    HWND messenger = MessengerWithCopy(copy, false);

    EXPECT_EQ(std::string(EnglishHomepage) + (missingValue ? "?forv_" : "?forv_12"), OpenHomepageFromMenu(messenger, log));
}

INSTANTIATE_TEST_SUITE_P(Shapes, UnreadableVersion, testing::Values(0, 1));
