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

// Messenger with the shipped module injected; the module's shell requests are recorded.
HWND InjectedMessenger(Language language)
{
    return about_support::InjectedMessenger(language, WatchShellRequests);
}

std::string Repeat(char c, size_t count)
{
    return std::string(count, c);
}

// "0123456789012..." of the given length.
std::string Digits(size_t count)
{
    std::string digits;
    for (size_t i = 0; i < count; ++i)
        digits += static_cast<char>('0' + i % 10);
    return digits;
}

enum class Link { Homepage, Support };

std::string Open(Link link, HWND messenger, const std::string& log, const char* aboutCaption)
{
    return link == Link::Homepage ? OpenHomepageFromMenu(messenger, log)
                                  : OpenSupportFromAbout(messenger, log, aboutCaption);
}

// ---- The shipped module ----

// A link of the shipped module: it opens the text of `addressString` followed by `tag`, which is
// `opened`.
struct ShippedLink {
    const char* name;
    Language language;
    Link link;
    UINT addressString;
    const char* tag;
    const char* opened;
};

void PrintTo(const ShippedLink& row, std::ostream* out)
{
    *out << row.name;
}

class ShippedLinks : public BrowserCase<ShippedLink> {};

// ---- Patched copies ----

// A patched copy of the module (file `copy`, changed by `patch`) and the address that one link
// opens. Where the case is about the 300-byte link buffer, `openedLength` is the length that
// address must have (0: not checked).
struct PatchedLink {
    const char* copy;
    std::function<bool(const std::string&)> patch;
    bool russian;
    Link link;
    std::string opened;
    size_t openedLength;
};

void PrintTo(const PatchedLink& row, std::ostream* out)
{
    *out << row.copy;
}

class PatchedLinks : public BrowserCase<PatchedLink> {};

std::function<bool(const std::string&)> Homepage(const std::string& address)
{
    return [address](const std::string& copy) { return SetStrings(copy, {{IDS_HOMEPAGE_ADDRESS, address}}); };
}

std::function<bool(const std::string&)> Support(const std::string& address)
{
    return [address](const std::string& copy) { return SetStrings(copy, {{IDS_SUPPORT_ADDRESS, address}}); };
}

std::function<bool(const std::string&)> VersionTexts(const std::string& english, const std::string& russian)
{
    return [english, russian](const std::string& copy) { return SetFileVersionTexts(copy, english, russian); };
}

bool NoVersionBlock(const std::string& copy)
{
    return RemoveVersionBlock(copy);
}

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

// A version block that does not hold what the module asks for: the query names a value the block
// lacks, or the value claims only 3 of its characters.
bool VersionQueryNamesNoValue(const std::string& copy)
{
    return SetFileVersionTexts(copy, "12.34, released", "12.34, released")
        && SetStrings(copy, {{IDS_VERSION_QUERY_PATH, "\\StringFileInfo\\040904B0\\NoSuchValue"}});
}

bool VersionValueCutShort(const std::string& copy)
{
    return SetFileVersionTexts(copy, "12.34, released", "12.34, released") && ShortenEnglishFileVersion(copy, 3);
}

// 291 characters + "?forv_10" = 299, the most the 300-byte link buffer holds.
const std::string AddressThatJustTakesTheTag = "https://www.dorvane.example/" + Repeat('a', 291 - 28);
const std::string AddressOneTooLongForTheTag = "https://www.dorvane.example/" + Repeat('b', 292 - 28);
const std::string OverlongAddress = "https://www.dorvane.example/" + Repeat('c', 400);
const std::string OverlongSupportAddress = "https://support.dorvane.example/" + Repeat('d', 400);
// 299 characters fit the version buffer; the digits behind them are never seen.
const std::string OverlongVersionText = "1" + Repeat('x', 297) + "2" + "345, released";

} // namespace

// ---- The shipped module's links ------------------------------------------------------------------

TEST_P(ShippedLinks, OpenTheirAddressWithTheVersionTag)
{
    const ShippedLink& row = GetParam();
    HWND messenger = InjectedMessenger(row.language);

    std::string opened = Open(row.link, messenger, log,
                              row.language == Language::Russian ? RussianAboutCaption
                                                                : EnglishAboutCaption);

    EXPECT_EQ(ModuleString(row.addressString) + row.tag, opened);
    EXPECT_EQ(row.opened, opened);
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands) << "the command also reached Messenger";
    ASSERT_EQ(1u, ShellRequests().size());
    if (row.link == Link::Homepage) {
        EXPECT_EQ(messenger, ShellRequests()[0].owner);
    }
    EXPECT_EQ("open", ShellRequests()[0].verb);
    EXPECT_FALSE(ShellRequests()[0].parameters);
    EXPECT_FALSE(ShellRequests()[0].directory);
    EXPECT_EQ(SW_SHOWNORMAL, ShellRequests()[0].show);
}

INSTANTIATE_TEST_SUITE_P(Links, ShippedLinks, testing::Values(
    ShippedLink{"English homepage", Language::English, Link::Homepage, IDS_HOMEPAGE_ADDRESS, "?forv_10",
                "https://www.dorvane.example/orvella?forv_10"},
    ShippedLink{"Russian homepage", Language::Russian, Link::Homepage, IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET,
                "?forv_10", "https://www.dorvane.example/ru/orvella?forv_10"},
    ShippedLink{"English support: web address, tagged", Language::English, Link::Support, IDS_SUPPORT_ADDRESS,
                "?forv_10", "https://support.dorvane.example/orvella?forv_10"},
    ShippedLink{"Russian support: mail address, as written", Language::Russian, Link::Support,
                IDS_SUPPORT_ADDRESS + RUSSIAN_ID_OFFSET, "", "mailto:support@dorvane.example"}));

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

// ---- Other addresses, version texts and buffer limits, from patched copies ---------------------

TEST_P(PatchedLinks, OpenTheAddressThatTheCopyGives)
{
    const PatchedLink& row = GetParam();
    std::string copy = CopyModule(row.copy);
    ASSERT_FALSE(copy.empty()) << "could not copy " << ShippedModulePath();
    ASSERT_TRUE(row.patch(copy));
    HWND messenger = about_support::MessengerWithCopy(copy, row.russian, WatchShellRequests);

    std::string opened = Open(row.link, messenger, log, EnglishAboutCaption);

    EXPECT_EQ(row.opened, opened);
    if (row.openedLength) {
        EXPECT_EQ(row.openedLength, opened.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Copies, PatchedLinks, testing::Values(
    // The homepage's tag goes behind whatever the address holds.
    PatchedLink{"OrvlHook_fragment", Homepage("https://www.dorvane.example/orvella#top"), false, Link::Homepage,
                "https://www.dorvane.example/orvella#top?forv_10", 0},
    PatchedLink{"OrvlHook_homemail", Homepage("mailto:office@dorvane.example"), false, Link::Homepage,
                "mailto:office@dorvane.example?forv_10", 0},
    // The version tag: the digits of the version text before its first comma, at most 51.
    PatchedLink{"OrvlHook_noversion", NoVersionBlock, false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_", 0},
    PatchedLink{"OrvlHook_digits", VersionTexts("v2.5 (build 31) beta, 2003, 7", "9.9, 2003"), false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_2531", 0},
    PatchedLink{"OrvlHook_rutag", VersionTexts("7.7, released", "3.1, выпущена 5 мая 2004 года"), true,
                Link::Homepage, std::string(RussianHomepage) + "?forv_31", 0},
    PatchedLink{"OrvlHook_nocomma", VersionTexts("1.0.0.2", "1.0.0.2"), false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_1002", 0},
    PatchedLink{"OrvlHook_comma", VersionTexts(", 1.0", ", 1.0"), false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_", 0},
    PatchedLink{"OrvlHook_longtag", VersionTexts(Digits(70) + ", released", Digits(70)), false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_" + Digits(51), 0},
    PatchedLink{"OrvlHook_longversion", VersionTexts(OverlongVersionText, OverlongVersionText), false,
                Link::Homepage, std::string(EnglishHomepage) + "?forv_12", 0},
    PatchedLink{"OrvlHook_novalue", VersionQueryNamesNoValue, false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_", 0},
    PatchedLink{"OrvlHook_shortvalue", VersionValueCutShort, false, Link::Homepage,
                std::string(EnglishHomepage) + "?forv_12", 0},
    // Addresses that do not fit the link buffer with the tag are opened untagged, cut to it.
    PatchedLink{"OrvlHook_fits", Homepage(AddressThatJustTakesTheTag), false, Link::Homepage,
                AddressThatJustTakesTheTag + "?forv_10", 299},
    PatchedLink{"OrvlHook_nofit", Homepage(AddressOneTooLongForTheTag), false, Link::Homepage,
                AddressOneTooLongForTheTag, 292},
    PatchedLink{"OrvlHook_overlong", Homepage(OverlongAddress), false, Link::Homepage, OverlongAddress.substr(0, 299),
                299},
    PatchedLink{"OrvlHook_longsupport", Support(OverlongSupportAddress), false, Link::Support,
                OverlongSupportAddress.substr(0, 299), 299},
    // The support link is tagged unless it is a mail address ("mailto:" anywhere, as written).
    PatchedLink{"OrvlHook_supportfragment", Support("https://support.dorvane.example/orvella#contact"), false,
                Link::Support, "https://support.dorvane.example/orvella#contact", 0},
    PatchedLink{"OrvlHook_supportmailto", Support("https://support.dorvane.example/write?to=mailto:help"), false,
                Link::Support, "https://support.dorvane.example/write?to=mailto:help", 0},
    PatchedLink{"OrvlHook_supportupper", Support("MAILTO:support@dorvane.example"), false, Link::Support,
                "MAILTO:support@dorvane.example?forv_10", 0},
    PatchedLink{"OrvlHook_supportnoversion", NoVersionBlock, false, Link::Support,
                std::string(EnglishSupport) + "?forv_", 0}));
