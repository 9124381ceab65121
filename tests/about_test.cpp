// The About dialog, opened from Messenger's "About Orvella..." command and driven as the user
// would: its texts, the link labels' font, colour and cursor, double-clicks on the labels, and
// the ways it closes. The module's calls to the system are watched through its import table.
#include "tests/about_links_support.h"
#include "tests/rig/rig.h"
#include "sandbox/browser/browser_log.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

using namespace rig;
using namespace about_support;
using sandbox_browser::ReadLog;

namespace {

const LPCSTR SystemHand = MAKEINTRESOURCEA(32649);  // IDC_HAND

// ---- The module's calls, recorded on their way to the system ----

using DialogBoxFunction = INT_PTR(WINAPI*)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
using CreateFontFunction = HFONT(WINAPI*)(const LOGFONTA*);
using GetObjectFunction = int(WINAPI*)(HANDLE, int, LPVOID);
using LoadCursorFunction = HCURSOR(WINAPI*)(HINSTANCE, LPCSTR);
using DestroyCursorFunction = BOOL(WINAPI*)(HCURSOR);

DialogBoxFunction realDialogBox = nullptr;
CreateFontFunction realCreateFont = nullptr;
GetObjectFunction realGetObject = nullptr;
LoadCursorFunction realLoadCursor = nullptr;
DestroyCursorFunction realDestroyCursor = nullptr;

std::vector<INT_PTR> dialogResults;
std::vector<HFONT> fontsCreated;
int fontCreationsToRefuse = 0;
bool refuseFontDescriptions = false;
bool refuseSystemCursors = false;
std::vector<HCURSOR> cursorsLoaded;
std::vector<HCURSOR> cursorsDestroyed;

INT_PTR WINAPI RecordingDialogBox(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC procedure, LPARAM parameter)
{
    INT_PTR result = realDialogBox(instance, name, owner, procedure, parameter);
    dialogResults.push_back(result);
    return result;
}

HFONT WINAPI RecordingCreateFont(const LOGFONTA* description)
{
    if (fontCreationsToRefuse > 0) {
        --fontCreationsToRefuse;
        return nullptr;
    }
    HFONT font = realCreateFont(description);
    fontsCreated.push_back(font);
    return font;
}

int WINAPI RecordingGetObject(HANDLE object, int size, LPVOID buffer)
{
    if (refuseFontDescriptions)
        return 0;
    return realGetObject(object, size, buffer);
}

HCURSOR WINAPI RecordingLoadCursor(HINSTANCE instance, LPCSTR name)
{
    HCURSOR cursor = (refuseSystemCursors && !instance) ? nullptr : realLoadCursor(instance, name);
    cursorsLoaded.push_back(cursor);
    return cursor;
}

BOOL WINAPI RecordingDestroyCursor(HCURSOR cursor)
{
    cursorsDestroyed.push_back(cursor);
    return realDestroyCursor(cursor);
}

template <typename Function>
void Watch(HMODULE module, const char* dll, const char* name, Function& real, Function replacement)
{
    real = reinterpret_cast<Function>(ReplaceImport(module, dll, name, reinterpret_cast<void*>(replacement)));
    EXPECT_NE(nullptr, real) << "the module does not import " << name;
}

bool WatchModule(HMODULE module)
{
    Watch(module, "USER32.dll", "DialogBoxParamW", realDialogBox, &RecordingDialogBox);
    Watch(module, "GDI32.dll", "CreateFontIndirectA", realCreateFont, &RecordingCreateFont);
    Watch(module, "GDI32.dll", "GetObjectA", realGetObject, &RecordingGetObject);
    Watch(module, "USER32.dll", "LoadCursorA", realLoadCursor, &RecordingLoadCursor);
    Watch(module, "USER32.dll", "DestroyCursor", realDestroyCursor, &RecordingDestroyCursor);
    return WatchShellRequests(module);
}

// ---- Messenger with the module, watched ----

HWND InjectedMessenger(Language language)
{
    return about_support::InjectedMessenger(language, WatchModule);
}

// Chooses "About Orvella..." in Messenger while `script` drives the dialog it opens.
void WithAboutDialog(HWND messenger, const char* caption, const std::function<void(ModalScript&, HWND)>& script)
{
    RunModal([&] { EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0)); },
             [&](ModalScript& driver) {
                 HWND dialog = driver.WaitForWindow("#32770", caption);
                 if (dialog)
                     script(driver, dialog);
             });
}

void CloseWithOk(ModalScript& script, HWND dialog)
{
    script.Click(dialog, IDOK);
    script.WaitForClose(dialog);
}

HFONT FontOf(HWND window)
{
    DWORD_PTR font = 0;
    SendMessageTimeoutA(window, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 5000, &font);
    return reinterpret_cast<HFONT>(font);
}

LOGFONTA DescriptionOf(HFONT font)
{
    LOGFONTA description = {};
    EXPECT_EQ(static_cast<int>(sizeof(description)), GetObjectA(font, sizeof(description), &description))
        << "not a live font: " << font;
    return description;
}

// How many pixels of the control, as painted on screen, are pure blue.
int BluePixels(ModalScript& script, HWND control)
{
    int blue = 0;
    script.OnWindowThread(control, [&] {
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        RECT area;
        GetClientRect(control, &area);
        HDC dc = GetDC(control);
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (GetPixel(dc, x, y) == RGB(0, 0, 255))
                    ++blue;
        ReleaseDC(control, dc);
    });
    return blue;
}

struct CursorAnswer { INT_PTR procedureResult; LRESULT messageResult; HCURSOR cursor; };

// Sends WM_SETCURSOR "mouse over `target`" to the dialog on its own thread, starting from the
// given cursor; reports what the dialog procedure and the dialog answered and the cursor after.
CursorAnswer CursorOver(ModalScript& script, HWND dialog, HWND target, HCURSOR before)
{
    CursorAnswer answer = {};
    script.OnWindowThread(dialog, [&] {
        // A wide dialog: read as ANSI, its procedure would be a conversion handle, not callable.
        DLGPROC procedure = reinterpret_cast<DLGPROC>(GetWindowLongW(dialog, DWL_DLGPROC));
        LPARAM where = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
        SetCursor(before);
        answer.procedureResult = procedure(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), where);
        SetCursor(before);
        answer.messageResult = SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), where);
        answer.cursor = GetCursor();
    });
    return answer;
}

bool StillOpen(HWND dialog)
{
    return IsWindow(dialog) && IsWindowVisible(dialog);
}

// The version text that the About dialog of a patched copy shows.
std::string VersionTextOfCopy(const std::string& copy)
{
    HWND messenger = MessengerWithCopy(copy, false, WatchModule);
    std::string version;
    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        version = ControlText(dialog, IDC_VERSION_TEXT);
        CloseWithOk(script, dialog);
    });
    return version;
}

// A font in use and its description, read while the dialog is open (the dialog's own font goes
// with the dialog).
struct FontInUse {
    HFONT font = nullptr;
    LOGFONTA description = {};
};

struct AboutFonts {
    FontInUse dialog, support, homepage, version;
};

FontInUse FontInUseBy(HWND window)
{
    FontInUse used;
    used.font = FontOf(window);
    used.description = DescriptionOf(used.font);
    return used;
}

// Opens the About dialog and reads the fonts of the dialog and of its labels.
AboutFonts FontsOfAboutDialog(HWND messenger)
{
    AboutFonts fonts;
    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        fonts.dialog = FontInUseBy(dialog);
        fonts.support = FontInUseBy(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        fonts.homepage = FontInUseBy(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
        fonts.version = FontInUseBy(GetDlgItem(dialog, IDC_VERSION_TEXT));
        CloseWithOk(script, dialog);
    });
    return fonts;
}

} // namespace

// ---- Texts ---------------------------------------------------------------------------------------

TEST(AboutDialog, EnglishShowsCaptionVersionAndLinks)
{
    HWND messenger = InjectedMessenger(Language::English);
    HWND owner = nullptr;
    std::string version, support, homepage;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        owner = GetWindow(dialog, GW_OWNER);
        version = ControlText(dialog, IDC_VERSION_TEXT);
        support = ControlText(dialog, IDC_SUPPORT_LINK);
        homepage = ControlText(dialog, IDC_HOMEPAGE_LINK);
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ(messenger, owner);
    EXPECT_EQ("1.0, released on February 4, 2003", version);
    EXPECT_EQ("support.dorvane.example", support);
    EXPECT_EQ("www.dorvane.example/orvella", homepage);
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands) << "the command also reached Messenger";
    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
}

TEST(AboutDialog, MissingVersionBlockShowsQuestionMarks)
{
    std::string copy = CopyModule("OrvlHook_aboutnoversion");
    ASSERT_FALSE(copy.empty());
    ASSERT_TRUE(RemoveVersionBlock(copy));

    EXPECT_EQ("???", VersionTextOfCopy(copy));
}

TEST(AboutDialog, OverlongVersionTextIsCutToItsBuffer)
{
    std::string text = "1.0, " + std::string(400, 'v');
    std::string copy = CopyModule("OrvlHook_aboutlongversion");
    ASSERT_FALSE(copy.empty());
    ASSERT_TRUE(SetFileVersionTexts(copy, text, text));

    EXPECT_EQ(text.substr(0, 299), VersionTextOfCopy(copy));
}

// ---- Link labels: font, colour, subclassing --------------------------------------------------

TEST(AboutDialog, LinkLabelsUseTheDialogFontUnderlined)
{
    HWND messenger = InjectedMessenger(Language::English);

    AboutFonts fonts = FontsOfAboutDialog(messenger);

    const LOGFONTA& dialogDescription = fonts.dialog.description;
    const LOGFONTA& linkDescription = fonts.support.description;
    ASSERT_NE(nullptr, fonts.dialog.font);
    EXPECT_NE(fonts.dialog.font, fonts.support.font);
    EXPECT_EQ(fonts.support.font, fonts.homepage.font) << "both labels share one link font";
    EXPECT_EQ(fonts.dialog.font, fonts.version.font) << "other controls keep the dialog font";
    EXPECT_EQ(0, dialogDescription.lfUnderline);
    EXPECT_EQ(1, linkDescription.lfUnderline);
    EXPECT_STREQ(dialogDescription.lfFaceName, linkDescription.lfFaceName);
    EXPECT_EQ(dialogDescription.lfHeight, linkDescription.lfHeight);
    EXPECT_EQ(dialogDescription.lfWeight, linkDescription.lfWeight);
    EXPECT_EQ(1u, fontsCreated.size());
}

TEST(AboutDialog, UnreadableDialogFontGivesSmallUnderlinedSwissFont)
{
    HWND messenger = InjectedMessenger(Language::English);
    refuseFontDescriptions = true;

    AboutFonts fonts = FontsOfAboutDialog(messenger);

    const LOGFONTA& linkDescription = fonts.support.description;
    EXPECT_NE(fonts.dialog.font, fonts.support.font) << "the link font must never be the dialog's own font";
    EXPECT_EQ(fonts.support.font, fonts.homepage.font);
    EXPECT_EQ(13, linkDescription.lfHeight);
    EXPECT_EQ(200, linkDescription.lfWeight);
    EXPECT_EQ(1, linkDescription.lfUnderline);
    EXPECT_EQ(0, linkDescription.lfItalic);
    EXPECT_EQ(0, linkDescription.lfCharSet);
    EXPECT_EQ(VARIABLE_PITCH | FF_SWISS, linkDescription.lfPitchAndFamily);
    EXPECT_STREQ("", linkDescription.lfFaceName);
}

TEST(AboutDialog, FailedFontCreationLeavesFirstLabelPlainAndSecondTriesAgain)
{
    HWND messenger = InjectedMessenger(Language::English);
    fontCreationsToRefuse = 1;

    AboutFonts fonts = FontsOfAboutDialog(messenger);

    EXPECT_EQ(fonts.dialog.font, fonts.support.font);
    EXPECT_NE(fonts.dialog.font, fonts.homepage.font);
    EXPECT_EQ(1, fonts.homepage.description.lfUnderline);
    EXPECT_EQ(1u, fontsCreated.size());
}

TEST(AboutDialog, LinkLabelsPaintInBlue)
{
    HWND messenger = InjectedMessenger(Language::English);
    int supportBlue = 0, homepageBlue = 0, versionBlue = 0;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        supportBlue = BluePixels(script, GetDlgItem(dialog, IDC_SUPPORT_LINK));
        homepageBlue = BluePixels(script, GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
        versionBlue = BluePixels(script, GetDlgItem(dialog, IDC_VERSION_TEXT));
        CloseWithOk(script, dialog);
    });

    EXPECT_GT(supportBlue, 20);
    EXPECT_GT(homepageBlue, 20);
    EXPECT_EQ(0, versionBlue);
}

TEST(AboutDialog, LinkLabelsKeepTheirOwnProcedureInUserData)
{
    HWND messenger = InjectedMessenger(Language::English);
    LONG staticProcedure = 0, supportPrevious = 0, homepagePrevious = 0, supportCurrent = 0;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        // The labels are subclassed with the wide calls: their procedures read as wide ones.
        staticProcedure = GetWindowLongW(GetDlgItem(dialog, IDC_VERSION_TEXT), GWL_WNDPROC);
        supportPrevious = GetWindowLongW(GetDlgItem(dialog, IDC_SUPPORT_LINK), GWL_USERDATA);
        homepagePrevious = GetWindowLongW(GetDlgItem(dialog, IDC_HOMEPAGE_LINK), GWL_USERDATA);
        supportCurrent = GetWindowLongW(GetDlgItem(dialog, IDC_SUPPORT_LINK), GWL_WNDPROC);
        CloseWithOk(script, dialog);
    });

    EXPECT_NE(0, staticProcedure);
    EXPECT_EQ(staticProcedure, supportPrevious);
    EXPECT_EQ(staticProcedure, homepagePrevious);
    EXPECT_NE(staticProcedure, supportCurrent);
}

// ---- Cursor ----------------------------------------------------------------------------------------

TEST(AboutDialog, HandCursorOverLinkLabelsOnly)
{
    HWND messenger = InjectedMessenger(Language::English);
    HCURSOR hand = LoadCursorA(nullptr, SystemHand);
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    ASSERT_NE(nullptr, hand);
    CursorAnswer overSupport = {}, overHomepage = {}, overVersion = {}, overOk = {};
    LONG messageResult = 0;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        overSupport = CursorOver(script, dialog, GetDlgItem(dialog, IDC_SUPPORT_LINK), cross);
        script.OnWindowThread(dialog, [&] { messageResult = GetWindowLongA(dialog, DWL_MSGRESULT); });
        overHomepage = CursorOver(script, dialog, GetDlgItem(dialog, IDC_HOMEPAGE_LINK), cross);
        overVersion = CursorOver(script, dialog, GetDlgItem(dialog, IDC_VERSION_TEXT), cross);
        overOk = CursorOver(script, dialog, GetDlgItem(dialog, IDOK), cross);
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ(TRUE, overSupport.procedureResult);
    EXPECT_EQ(1, overSupport.messageResult);
    EXPECT_EQ(1, messageResult);
    EXPECT_EQ(hand, overSupport.cursor);
    EXPECT_EQ(TRUE, overHomepage.procedureResult);
    EXPECT_EQ(1, overHomepage.messageResult);
    EXPECT_EQ(hand, overHomepage.cursor);
    EXPECT_EQ(FALSE, overVersion.procedureResult);
    EXPECT_NE(hand, overVersion.cursor);
    EXPECT_EQ(FALSE, overOk.procedureResult);
    EXPECT_NE(hand, overOk.cursor);
}

TEST(AboutDialog, MouseOverHomepageLabelShowsHandCursor)
{
    HWND messenger = InjectedMessenger(Language::English);
    HCURSOR hand = LoadCursorA(nullptr, SystemHand);
    bool handShown = false, handGone = false;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        RECT label, version;
        GetWindowRect(GetDlgItem(dialog, IDC_HOMEPAGE_LINK), &label);
        GetWindowRect(GetDlgItem(dialog, IDC_VERSION_TEXT), &version);
        SetCursorPos(label.left + 4, (label.top + label.bottom) / 2);
        handShown = WaitUntil([&] { return GetCursor() == hand; }, 5000);
        SetCursorPos(version.left + 4, (version.top + version.bottom) / 2);
        handGone = WaitUntil([&] { return GetCursor() != hand; }, 5000);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(handShown) << "the pointer over the homepage label is not the hand";
    EXPECT_TRUE(handGone) << "the pointer over the version text is still the hand";
}

TEST(AboutDialog, ModuleHandCursorWhenSystemHasNone)
{
    HWND messenger = InjectedMessenger(Language::English);
    refuseSystemCursors = true;
    HCURSOR moduleHand = LoadCursorA(Module(), MAKEINTRESOURCEA(IDC_LINK_HAND));
    ASSERT_NE(nullptr, moduleHand);
    CursorAnswer overSupport = {};

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        overSupport = CursorOver(script, dialog, GetDlgItem(dialog, IDC_SUPPORT_LINK), LoadCursorA(nullptr, IDC_CROSS));
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ(TRUE, overSupport.procedureResult);
    EXPECT_EQ(moduleHand, overSupport.cursor);
    ASSERT_EQ(2u, cursorsLoaded.size()) << "system hand first, then the module's cursor";
    EXPECT_EQ(nullptr, cursorsLoaded[0]);
    EXPECT_EQ(moduleHand, cursorsLoaded[1]);
}

TEST(AboutDialog, SecondOpeningReusesLinkFontAndLoadsCursorAgain)
{
    HWND messenger = InjectedMessenger(Language::English);
    HCURSOR hand = LoadCursorA(nullptr, SystemHand);
    HFONT firstFont = nullptr, secondFont = nullptr, secondHomepageFont = nullptr;
    CursorAnswer firstCursor = {}, secondCursor = {};
    LOGFONTA secondDescription = {};

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        firstFont = FontOf(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        firstCursor = CursorOver(script, dialog, GetDlgItem(dialog, IDC_SUPPORT_LINK), LoadCursorA(nullptr, IDC_CROSS));
        CloseWithOk(script, dialog);
    });
    ASSERT_EQ(1u, cursorsLoaded.size());
    ASSERT_EQ(1u, cursorsDestroyed.size()) << "the cursor is released at close";
    EXPECT_EQ(cursorsLoaded[0], cursorsDestroyed[0]);

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        secondFont = FontOf(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        secondHomepageFont = FontOf(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
        secondDescription = DescriptionOf(secondFont);
        secondCursor = CursorOver(script, dialog, GetDlgItem(dialog, IDC_SUPPORT_LINK), LoadCursorA(nullptr, IDC_CROSS));
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ(firstFont, secondFont) << "no new link font at the second opening";
    EXPECT_EQ(firstFont, secondHomepageFont);
    EXPECT_EQ(1, secondDescription.lfUnderline) << "the link font outlives the first dialog";
    EXPECT_EQ(1u, fontsCreated.size());
    EXPECT_EQ(hand, firstCursor.cursor);
    EXPECT_EQ(hand, secondCursor.cursor);
    EXPECT_EQ(2u, cursorsLoaded.size()) << "the cursor is loaded at every opening";
    EXPECT_EQ(2u, cursorsDestroyed.size());
    ASSERT_EQ(2u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[1]);
}

// ---- Double-clicks and single clicks ---------------------------------------------------------

namespace {

// A double-click on one label and the address it must open: the text of `addressString` (none
// when 0) followed by `address`.
struct LabelDoubleClick {
    const char* name;
    Language language;
    int label;
    UINT addressString;
    const char* address;
};

void PrintTo(const LabelDoubleClick& click, std::ostream* out)
{
    *out << click.name;
}

class AboutDialogLabel : public BrowserCase<LabelDoubleClick> {};

} // namespace

TEST_P(AboutDialogLabel, DoubleClickOpensItsAddressAndLeavesDialogOpen)
{
    const LabelDoubleClick& click = GetParam();
    HWND messenger = InjectedMessenger(click.language);
    HWND aboutDialog = nullptr;
    bool stayedOpen = false;

    const char* caption = click.language == Language::Russian ? RussianAboutCaption : EnglishAboutCaption;
    WithAboutDialog(messenger, caption, [&](ModalScript& script, HWND dialog) {
        aboutDialog = dialog;
        PostMessageA(GetDlgItem(dialog, click.label), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 3));
        EXPECT_TRUE(WaitForBrowserLines(log, 1, BrowserTimeoutMs));
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    std::vector<std::string> lines = ReadLog(log);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ((click.addressString ? ModuleString(click.addressString) : std::string()) + click.address, lines[0]);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(1u, ShellRequests().size());
    EXPECT_EQ(aboutDialog, ShellRequests()[0].owner) << "the dialog owns the shell request";
}

INSTANTIATE_TEST_SUITE_P(Labels, AboutDialogLabel, testing::Values(
    LabelDoubleClick{"English support: tagged", Language::English, IDC_SUPPORT_LINK, IDS_SUPPORT_ADDRESS, "?forv_10"},
    LabelDoubleClick{"Russian support: mail address as written", Language::Russian, IDC_SUPPORT_LINK, 0,
                     "mailto:support@dorvane.example"},
    LabelDoubleClick{"English homepage: tagged", Language::English, IDC_HOMEPAGE_LINK, 0,
                     "https://www.dorvane.example/orvella?forv_10"},
    LabelDoubleClick{"Russian homepage: tagged", Language::Russian, IDC_HOMEPAGE_LINK,
                     IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET, "?forv_10"}));

TEST(AboutDialog, RealMouseDoubleClickOnSupportLabelOpensIt)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        RECT label;
        GetWindowRect(GetDlgItem(dialog, IDC_SUPPORT_LINK), &label);
        SetCursorPos(label.left + 6, (label.top + label.bottom) / 2);
        Linger(300);
        INPUT clicks[4] = {};
        for (int i = 0; i < 4; ++i) {
            clicks[i].type = INPUT_MOUSE;
            clicks[i].mi.dwFlags = (i % 2 == 0) ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
        }
        EXPECT_EQ(4u, SendInput(4, clicks, sizeof(INPUT)));
        EXPECT_TRUE(WaitForBrowserLines(log, 1, BrowserTimeoutMs)) << "a double-click on the label opened nothing";
        CloseWithOk(script, dialog);
    });

    std::vector<std::string> lines = ReadLog(log);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(std::string("https://support.dorvane.example/orvella?forv_10"), lines[0]);
}

TEST(AboutDialog, SingleClicksOnLabelsOpenNothing)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);
    MessageRecorder recorder({WM_COMMAND});
    HWND aboutDialog = nullptr;
    bool stayedOpen = false;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        aboutDialog = dialog;
        for (int id : {IDC_SUPPORT_LINK, IDC_HOMEPAGE_LINK}) {
            HWND label = GetDlgItem(dialog, id);
            PostMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
            PostMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        }
        WaitForBrowserLines(log, 1, NoBrowserMs);
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(ReadLog(log).empty()) << "a single click opened an address";
    EXPECT_TRUE(ShellRequests().empty());
    int clicks = 0;
    for (const RecordedMessage& message : recorder.MessagesTo(aboutDialog))
        if (HIWORD(message.wParam) == STN_CLICKED
            && (LOWORD(message.wParam) == IDC_SUPPORT_LINK || LOWORD(message.wParam) == IDC_HOMEPAGE_LINK))
            ++clicks;
    EXPECT_EQ(2, clicks) << "the clicks did not reach the dialog: " << Describe(recorder.MessagesTo(aboutDialog));
}

TEST(AboutDialog, DoubleClickNotificationFromAnotherControlOpensNothing)
{
    std::string log = sandbox_browser::UseFreshLog();
    ASSERT_FALSE(log.empty());
    HWND messenger = InjectedMessenger(Language::English);
    bool stayedOpen = false;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        HWND version = GetDlgItem(dialog, IDC_VERSION_TEXT);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_VERSION_TEXT, STN_DBLCLK), reinterpret_cast<LPARAM>(version));
        // Code 1 from the OK button's ID is a double-click too, not OK.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, STN_DBLCLK), 0);
        WaitForBrowserLines(log, 1, NoBrowserMs);
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(ReadLog(log).empty());
}

// ---- Closing --------------------------------------------------------------------------------------

TEST(AboutDialog, EscapeAndCancelLeaveDialogOpen)
{
    HWND messenger = InjectedMessenger(Language::English);
    bool stayedOpen = false;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        Linger(1000);
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
}

namespace {

// A message posted to the dialog, or to its OK button, as a way of closing it.
struct PostedMessage {
    bool toOkButton;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// One way the user closes the dialog: one or two messages (a second with message 0 is none).
struct ClosingWay {
    const char* name;
    PostedMessage first;
    PostedMessage second;
};

void PrintTo(const ClosingWay& way, std::ostream* out)
{
    *out << way.name;
}

class AboutDialogClosing : public testing::TestWithParam<ClosingWay> {};

} // namespace

TEST_P(AboutDialogClosing, ClosesWithResultOneAndReleasesCursor)
{
    const ClosingWay& way = GetParam();
    HWND messenger = InjectedMessenger(Language::English);

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        for (const PostedMessage& posted : {way.first, way.second})
            if (posted.message)
                PostMessageA(posted.toOkButton ? GetDlgItem(dialog, IDOK) : dialog, posted.message, posted.wParam,
                             posted.lParam);
        script.WaitForClose(dialog);
    });

    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
    ASSERT_EQ(1u, cursorsLoaded.size());
    ASSERT_EQ(1u, cursorsDestroyed.size());
    EXPECT_EQ(cursorsLoaded[0], cursorsDestroyed[0]);
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutDialogClosing, testing::Values(
    ClosingWay{"OK button", {true, BM_CLICK, 0, 0}, {}},
    ClosingWay{"Enter", {true, WM_KEYDOWN, VK_RETURN, 0x001C0001},
               {true, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001)}},
    ClosingWay{"WM_CLOSE", {false, WM_CLOSE, 0, 0}, {}},
    ClosingWay{"caption close button", {false, WM_SYSCOMMAND, SC_CLOSE, 0}, {}},
    ClosingWay{"Alt+F4", {true, WM_SYSKEYDOWN, VK_F4, 0x203E0001}, {}}));

// No underlined font can be made at all: both labels keep the dialog's font and still paint as
// links, in blue.
TEST(AboutDialog, LabelsWithoutAnyLinkFontStillPaintInBlue)
{
    HWND messenger = InjectedMessenger(Language::English);
    fontCreationsToRefuse = 2;   // each label tries once
    HFONT dialogFont = nullptr, supportFont = nullptr, homepageFont = nullptr;
    int supportBlue = 0, homepageBlue = 0;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        dialogFont = FontOf(dialog);
        supportFont = FontOf(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        homepageFont = FontOf(GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
        supportBlue = BluePixels(script, GetDlgItem(dialog, IDC_SUPPORT_LINK));
        homepageBlue = BluePixels(script, GetDlgItem(dialog, IDC_HOMEPAGE_LINK));
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ(0, fontCreationsToRefuse) << "a label did not try to make its font";
    EXPECT_TRUE(fontsCreated.empty());
    EXPECT_EQ(dialogFont, supportFont);
    EXPECT_EQ(dialogFont, homepageFont);
    EXPECT_GT(supportBlue, 20);
    EXPECT_GT(homepageBlue, 20);
}
