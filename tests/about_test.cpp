// The About dialog, opened from Messenger's "About Orvella..." command and driven as the user
// would: its texts, the link labels' font, colour and cursor, double-clicks on the labels, and
// the ways it closes. The module's calls to the system are watched through its import table.
#include "tests/about_links_support.h"
#include "tests/rig/rig.h"
#include "sandbox/browser/browser_log.h"
#include "sandbox/host/inject.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <imm.h>
#include <algorithm>

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

// The control's pixels as they are on screen, row by row; repainted first when `repaint`, else
// only what is pending is painted (what the user sees after a change).
std::vector<COLORREF> Pixels(ModalScript& script, HWND control, bool repaint = true)
{
    std::vector<COLORREF> pixels;
    script.OnWindowThread(control, [&] {
        if (repaint)
            RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        else
            UpdateWindow(control);
        RECT area;
        GetClientRect(control, &area);
        HDC dc = GetDC(control);
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                pixels.push_back(GetPixel(dc, x, y));
        ReleaseDC(control, dc);
    });
    return pixels;
}

// How many pixels differ between two readings of one control (all of them when the sizes differ).
int DifferingPixels(const std::vector<COLORREF>& one, const std::vector<COLORREF>& other)
{
    if (one.size() != other.size())
        return static_cast<int>(std::max(one.size(), other.size()));
    int differing = 0;
    for (size_t i = 0; i < one.size(); ++i)
        if (one[i] != other[i])
            ++differing;
    return differing;
}

// How many pixels of the control, as painted on screen, are of `colour`.
int PixelsOf(ModalScript& script, HWND control, COLORREF colour)
{
    std::vector<COLORREF> pixels = Pixels(script, control);
    return static_cast<int>(std::count(pixels.begin(), pixels.end(), colour));
}

int BluePixels(ModalScript& script, HWND control)
{
    return PixelsOf(script, control, RGB(0, 0, 255));
}

// ---- The keyboard ----

// Presses and releases `key` on the control that has the focus, posted as the keyboard delivers
// it, so that the dialog's modal loop (IsDialogMessage) sees it; then lets the loop run.
void PressKey(UINT key)
{
    HWND focus = GetFocus();
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, 0)) << 16;
    PostMessageA(focus, WM_KEYDOWN, key, scan | 1);
    PostMessageA(focus, WM_KEYUP, key, scan | 1 | static_cast<LPARAM>(0xC0000000));
    Linger(300);
}

// The About dialogs that are open in this process.
std::vector<HWND> OpenAboutDialogs()
{
    return OpenDialogs({EnglishAboutCaption, RussianAboutCaption});
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
        // Another add-in overwrites a label's user data: the label answers 0 instead of calling nowhere.
        SetWindowLongW(GetDlgItem(dialog, IDC_SUPPORT_LINK), GWL_USERDATA, 0);
        EXPECT_EQ(0, SendMessageW(GetDlgItem(dialog, IDC_SUPPORT_LINK), WM_GETTEXTLENGTH, 0, 0));
        SetWindowLongW(GetDlgItem(dialog, IDC_SUPPORT_LINK), GWL_USERDATA, supportPrevious);
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

// ---- Double-clicks, the keyboard and single clicks -----------------------------------------------

namespace {

// How the user opens a label: a double-click, Tab to it and then Enter or Space, or a screen
// reader's default action.
enum class Opening { DoubleClick, Enter, Space, Reader };

// One label opened one way and the address it must open: the text of `addressString` (none when
// 0) followed by `address`.
struct LabelOpening {
    const char* name;
    Language language;
    int label;
    Opening how;
    UINT addressString;
    const char* address;
};

void PrintTo(const LabelOpening& opening, std::ostream* out)
{
    *out << opening.name;
}

// The support label is the first stop after OK, the homepage label the second.
int TabsTo(int label)
{
    return label == IDC_SUPPORT_LINK ? 1 : 2;
}

class AboutDialogLabel : public BrowserCase<LabelOpening> {};

// Everything a reader may ask besides role, state, name and default action, as one text; the
// parent through IDispatch, as a reader walks up.
std::string OtherAnswers(IAccessible* object)
{
    std::string heard;
    auto note = [&](HRESULT result, LONG value = 0) { heard += std::to_string(result) + "=" + std::to_string(value) + " "; };
    VARIANT self = ChildId(CHILDID_SELF), answer;
    VariantInit(&answer);
    auto variant = [&](HRESULT result) { note(result, answer.vt == VT_I4 ? answer.lVal : -answer.vt); VariantClear(&answer); };
    BSTR text = nullptr;
    auto words = [&](HRESULT result) { note(result, text ? SysStringLen(text) : -1); SysFreeString(text); text = nullptr; };
    IDispatch* other = nullptr;
    auto dispatch = [&](HRESULT result) {  // an object given back: what it says it is
        IAccessible* found = nullptr;
        if (other)
            other->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&found));
        note(result, Hear(found).role);
        if (found)
            found->Release();
        if (other)
            other->Release();
        other = nullptr;
    };
    LONG x = 0, y = 0, width = 0, height = 0;
    dispatch(object->get_accParent(&other));
    dispatch(object->get_accChild(self, &other));
    note(object->get_accChildCount(&x), x);
    words(object->get_accValue(self, &text));
    words(object->get_accDescription(self, &text));
    words(object->get_accHelp(self, &text));
    words(object->get_accHelpTopic(&text, self, &x));
    words(object->get_accKeyboardShortcut(self, &text));
    variant(object->get_accFocus(&answer));
    variant(object->get_accSelection(&answer));
    note(object->accSelect(SELFLAG_NONE, self));
    note(object->accLocation(&x, &y, &width, &height, self), x ^ (y << 8) ^ (width << 16) ^ (height << 24));
    variant(object->accNavigate(NAVDIR_NEXT, self, &answer));
    variant(object->accHitTest(x + width / 2, y + height / 2, &answer));
    note(object->put_accName(self, nullptr));
    note(object->put_accValue(self, nullptr));
    return heard;
}

} // namespace

TEST_P(AboutDialogLabel, OpensItsAddressAndLeavesDialogOpen)
{
    const LabelOpening& opening = GetParam();
    CoInitialize(nullptr);  // as on Messenger's thread
    HWND messenger = InjectedMessenger(opening.language);
    HWND aboutDialog = nullptr, label = nullptr, focusBefore = nullptr, focusAfter = nullptr;
    bool stayedOpen = false;
    IAccessible* kept = nullptr;
    Heard plain, focused, version;
    std::string text;

    const char* caption = opening.language == Language::Russian ? RussianAboutCaption : EnglishAboutCaption;
    WithAboutDialog(messenger, caption, [&](ModalScript& script, HWND dialog) {
        aboutDialog = dialog;
        label = GetDlgItem(dialog, opening.label);
        if (opening.how == Opening::DoubleClick) {
            PostMessageA(label, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 3));
        } else if (opening.how == Opening::Reader) {
            text = WindowText(label);
            version = HearWindow(GetDlgItem(dialog, IDC_VERSION_TEXT));
            kept = ClientObject(label);
            plain = Hear(kept);
            SetFocus(label);
            focused = Hear(kept);
            ASSERT_NE(nullptr, kept);
            IAccessible* standard = nullptr;
            CreateStdAccessibleObject(label, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&standard));
            EXPECT_EQ(OtherAnswers(standard), OtherAnswers(kept));
            if (standard)
                standard->Release();
            // No children, no type information.
            Heard child = Hear(kept, 1);
            EXPECT_EQ(-1, child.role);
            EXPECT_EQ("", child.name + child.action);
            VARIANT none;
            VariantInit(&none);
            EXPECT_EQ(E_INVALIDARG, kept->accDoDefaultAction(none));
            UINT types = 1;
            EXPECT_EQ(S_OK, kept->GetTypeInfoCount(&types));
            EXPECT_EQ(0u, types);
            EXPECT_EQ(E_NOTIMPL, kept->GetTypeInfo(0, 0, nullptr));
            EXPECT_EQ(E_NOTIMPL, kept->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr));
            EXPECT_EQ(E_NOTIMPL, kept->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr));
            EXPECT_EQ(S_OK, kept->accDoDefaultAction(ChildId(CHILDID_SELF)));
        } else {
            for (int tab = 0; tab < TabsTo(opening.label); ++tab)
                PressKey(VK_TAB);
            focusBefore = GetFocus();
            PressKey(opening.how == Opening::Enter ? VK_RETURN : VK_SPACE);
        }
        // Enter that pressed OK instead would close the box: stop waiting then.
        EXPECT_TRUE(WaitUntil([&] { return ReadLog(log).size() >= 1 || !StillOpen(dialog); }, BrowserTimeoutMs));
        Linger(500);  // time for a second, unwanted request
        stayedOpen = StillOpen(dialog);
        focusAfter = GetFocus();
        EXPECT_EQ(1u, ShellRequests().size()) << "one press, one request";
        if (stayedOpen)
            CloseWithOk(script, dialog);
    });

    std::vector<std::string> lines = ReadLog(log);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ((opening.addressString ? ModuleString(opening.addressString) : std::string()) + opening.address, lines[0]);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(1u, ShellRequests().size());
    EXPECT_EQ(aboutDialog, ShellRequests()[0].owner) << "the dialog owns the shell request";
    if (opening.how == Opening::Enter || opening.how == Opening::Space) {
        EXPECT_EQ(label, focusBefore) << "Tab did not reach the label";
        EXPECT_EQ(focusBefore, focusAfter) << "the key moved the focus";
    }
    if (opening.how != Opening::Reader)
        return;
    const LONG Link = STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE;
    EXPECT_EQ(ROLE_SYSTEM_LINK, plain.role);
    EXPECT_EQ(Link, plain.state & (Link | STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSED));
    EXPECT_EQ(Link | STATE_SYSTEM_FOCUSED, focused.state & (Link | STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSED));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text, plain.name);
    EXPECT_EQ(opening.language == Language::Russian ? "Перейти" : "Jump", plain.action);
    EXPECT_NE(ROLE_SYSTEM_LINK, version.role) << "the version text reads as a link";
    EXPECT_NE(-1, version.role);
    // A reader that kept the object after the box closed: answered, nothing opened.
    ASSERT_NE(nullptr, kept);
    EXPECT_NE(S_OK, kept->accDoDefaultAction(ChildId(CHILDID_SELF)));
    Hear(kept);
    Linger(300);
    EXPECT_EQ(1u, ShellRequests().size());
    kept->Release();
}

INSTANTIATE_TEST_SUITE_P(Labels, AboutDialogLabel, testing::Values(
    LabelOpening{"English support, double-click: tagged", Language::English, IDC_SUPPORT_LINK, Opening::DoubleClick,
                 IDS_SUPPORT_ADDRESS, "?forv_10"},
    LabelOpening{"Russian support, double-click: mail address as written", Language::Russian, IDC_SUPPORT_LINK,
                 Opening::DoubleClick, 0, "mailto:support@dorvane.example"},
    LabelOpening{"English homepage, double-click: tagged", Language::English, IDC_HOMEPAGE_LINK, Opening::DoubleClick,
                 0, "https://www.dorvane.example/orvella?forv_10"},
    LabelOpening{"Russian homepage, double-click: tagged", Language::Russian, IDC_HOMEPAGE_LINK, Opening::DoubleClick,
                 IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET, "?forv_10"},
    LabelOpening{"English support, Enter", Language::English, IDC_SUPPORT_LINK, Opening::Enter, IDS_SUPPORT_ADDRESS,
                 "?forv_10"},
    LabelOpening{"English support, Space", Language::English, IDC_SUPPORT_LINK, Opening::Space, IDS_SUPPORT_ADDRESS,
                 "?forv_10"},
    LabelOpening{"Russian support, Enter", Language::Russian, IDC_SUPPORT_LINK, Opening::Enter, 0,
                 "mailto:support@dorvane.example"},
    LabelOpening{"Russian support, Space", Language::Russian, IDC_SUPPORT_LINK, Opening::Space, 0,
                 "mailto:support@dorvane.example"},
    LabelOpening{"English homepage, Enter", Language::English, IDC_HOMEPAGE_LINK, Opening::Enter, 0,
                 "https://www.dorvane.example/orvella?forv_10"},
    LabelOpening{"English homepage, Space", Language::English, IDC_HOMEPAGE_LINK, Opening::Space, 0,
                 "https://www.dorvane.example/orvella?forv_10"},
    LabelOpening{"Russian homepage, Enter", Language::Russian, IDC_HOMEPAGE_LINK, Opening::Enter,
                 IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET, "?forv_10"},
    LabelOpening{"Russian homepage, Space", Language::Russian, IDC_HOMEPAGE_LINK, Opening::Space,
                 IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET, "?forv_10"},
    LabelOpening{"English support, screen reader", Language::English, IDC_SUPPORT_LINK, Opening::Reader,
                 IDS_SUPPORT_ADDRESS, "?forv_10"},
    LabelOpening{"Russian support, screen reader", Language::Russian, IDC_SUPPORT_LINK, Opening::Reader, 0,
                 "mailto:support@dorvane.example"},
    LabelOpening{"English homepage, screen reader", Language::English, IDC_HOMEPAGE_LINK, Opening::Reader, 0,
                 "https://www.dorvane.example/orvella?forv_10"},
    LabelOpening{"Russian homepage, screen reader", Language::Russian, IDC_HOMEPAGE_LINK, Opening::Reader,
                 IDS_HOMEPAGE_ADDRESS + RUSSIAN_ID_OFFSET, "?forv_10"}));

namespace {

// Where the module cannot answer for a label (no COM on Messenger's thread, Windows refusing it
// the library, its entry points or memory), the reader gets the label's standard object.
struct NoLinkObject { const char* name; bool com; const char* function; int arguments; };
void PrintTo(const NoLinkObject& row, std::ostream* out) { *out << row.name; }
class AboutDialogWithoutLinkObject : public testing::TestWithParam<NoLinkObject> {};

} // namespace

TEST_P(AboutDialogWithoutLinkObject, ReaderGetsTheStandardObjectAndNothingOpens)
{
    const NoLinkObject& row = GetParam();
    // Without COM on the thread: Wine's input method, once a window shows, would give the process
    // an implicit multithreaded apartment, which serves a thread without COM of its own.
    if (row.com)
        CoInitialize(nullptr);
    else
        ImmDisableIME(static_cast<DWORD>(-1));
    HWND messenger = InjectedMessenger(Language::English);
    if (row.function) {
        ASSERT_NE(nullptr, RefuseImport(Module(), "KERNEL32.dll", row.function, row.arguments));
    }
    Heard heard;
    std::string text;
    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        text = WindowText(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        IAccessible* object = ClientObject(GetDlgItem(dialog, IDC_SUPPORT_LINK));
        heard = Hear(object);
        if (object) {
            object->accDoDefaultAction(ChildId(CHILDID_SELF));
            object->Release();
        }
        Linger(300);
        CloseWithOk(script, dialog);
    });
    EXPECT_NE(-1, heard.role) << "no object at all";
    EXPECT_NE(ROLE_SYSTEM_LINK, heard.role);
    EXPECT_EQ(text, heard.name);
    EXPECT_TRUE(ShellRequests().empty());
    EXPECT_TRUE(MessengerResponds(messenger));
}

INSTANTIATE_TEST_SUITE_P(Refusals, AboutDialogWithoutLinkObject, testing::Values(
    NoLinkObject{"no COM on the thread", false, nullptr, 0}, NoLinkObject{"no library", true, "LoadLibraryA", 1},
    NoLinkObject{"no entry points", true, "GetProcAddress", 2}, NoLinkObject{"no memory", true, "HeapAlloc", 3}));

// A screen reader in another process asks Messenger (the stand-in program, with the module
// injected as the host does it) about the support label, and opens it.
TEST(AboutDialog, ReaderInAnotherProcessHearsALinkAndOpensIt)
{
    std::string log = sandbox_browser::UseFreshLog();
    DeleteSettingsKey();
    CoInitialize(nullptr);
    MessengerProgram program;
    ASSERT_TRUE(program.Start(""));
    ASSERT_EQ(sandbox::InjectOutcome::Injected, sandbox::InjectIntoMessenger(20000).outcome);
    PostMessageA(program.window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    HWND dialog = nullptr;
    // Shown once its labels are made and subclassed.
    ASSERT_TRUE(WaitUntil([&] {
        dialog = FindWindowW(nullptr, Wide(EnglishAboutCaption).c_str());
        return dialog && IsWindowVisible(dialog);
    }));
    std::string text = WindowText(GetDlgItem(dialog, IDC_SUPPORT_LINK));
    IAccessible* object = ClientObject(GetDlgItem(dialog, IDC_SUPPORT_LINK));
    Heard heard = Hear(object);
    EXPECT_EQ(S_OK, object ? object->accDoDefaultAction(ChildId(CHILDID_SELF)) : E_FAIL);
    EXPECT_TRUE(WaitForBrowserLines(log, 1, BrowserTimeoutMs));
    if (object)
        object->Release();
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ROLE_SYSTEM_LINK, heard.role);
    EXPECT_EQ(text, heard.name);
    EXPECT_EQ("Jump", heard.action);
    EXPECT_EQ((std::vector<std::string>{"https://support.dorvane.example/orvella?forv_10"}), ReadLog(log));
}

namespace {

class AboutDialogTabOrder : public testing::TestWithParam<Language> {};

} // namespace

// Tab goes OK, support label, homepage label, OK; a focused label shows the focus rectangle,
// which goes again with the focus. Nothing opens on the way.
TEST_P(AboutDialogTabOrder, TabVisitsBothLabelsWithAFocusRectangle)
{
    Language language = GetParam();
    HWND messenger = InjectedMessenger(language);
    std::vector<int> stops;  // the control with the focus at each stop
    std::vector<COLORREF> supportPlain, homepagePlain, supportFocused, homepageFocused, supportLeft, homepageLeft;
    bool stayedOpen = false;

    const char* caption = language == Language::Russian ? RussianAboutCaption : EnglishAboutCaption;
    WithAboutDialog(messenger, caption, [&](ModalScript& script, HWND dialog) {
        HWND support = GetDlgItem(dialog, IDC_SUPPORT_LINK);
        HWND homepage = GetDlgItem(dialog, IDC_HOMEPAGE_LINK);
        stops.push_back(GetDlgCtrlID(GetFocus()));
        supportPlain = Pixels(script, support);
        homepagePlain = Pixels(script, homepage);
        PressKey(VK_TAB);
        stops.push_back(GetDlgCtrlID(GetFocus()));
        supportFocused = Pixels(script, support, false);
        PressKey(VK_TAB);
        stops.push_back(GetDlgCtrlID(GetFocus()));
        supportLeft = Pixels(script, support, false);
        homepageFocused = Pixels(script, homepage, false);
        PressKey(VK_TAB);
        stops.push_back(GetDlgCtrlID(GetFocus()));
        homepageLeft = Pixels(script, homepage, false);
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    EXPECT_EQ((std::vector<int>{IDOK, IDC_SUPPORT_LINK, IDC_HOMEPAGE_LINK, IDOK}), stops);
    EXPECT_GT(DifferingPixels(supportPlain, supportFocused), 0) << "the focused support label shows no focus rectangle";
    EXPECT_GT(DifferingPixels(homepagePlain, homepageFocused), 0) << "the focused homepage label shows no focus rectangle";
    EXPECT_EQ(0, DifferingPixels(supportPlain, supportLeft)) << "the support label still shows a focus rectangle";
    EXPECT_EQ(0, DifferingPixels(homepagePlain, homepageLeft)) << "the homepage label still shows a focus rectangle";
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(ShellRequests().empty()) << "moving the focus opened an address";
}

INSTANTIATE_TEST_SUITE_P(Languages, AboutDialogTabOrder, testing::Values(Language::English, Language::Russian));

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
        // Escape on a focused label neither closes nor opens anything.
        for (int label : {IDC_SUPPORT_LINK, IDC_HOMEPAGE_LINK}) {
            PressKey(VK_TAB);
            EXPECT_EQ(label, GetDlgCtrlID(GetFocus()));
            PressKey(VK_ESCAPE);
        }
        Linger(500);
        stayedOpen = StillOpen(dialog);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(ShellRequests().empty()) << "Escape on a label opened an address";
    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
}

namespace {

// A message posted to the dialog, to its OK button, or, as a key pressed and released, to the
// control with the focus, as a step towards closing it.
enum class Target { Dialog, OkButton, KeyToFocus };

struct PostedMessage {
    Target target;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// One way the user closes the dialog: up to four steps (a step with message 0 is none).
struct ClosingWay {
    const char* name;
    PostedMessage steps[4];
};

void PrintTo(const ClosingWay& way, std::ostream* out)
{
    *out << way.name;
}

class AboutDialogClosing : public testing::TestWithParam<ClosingWay> {};

const PostedMessage Tab = {Target::KeyToFocus, WM_KEYDOWN, VK_TAB, 0};

} // namespace

TEST_P(AboutDialogClosing, ClosesWithResultOneAndReleasesCursor)
{
    const ClosingWay& way = GetParam();
    HWND messenger = InjectedMessenger(Language::English);

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        for (const PostedMessage& posted : way.steps) {
            if (!posted.message)
                continue;
            if (posted.target == Target::KeyToFocus)
                PressKey(static_cast<UINT>(posted.wParam));
            else
                PostMessageA(posted.target == Target::OkButton ? GetDlgItem(dialog, IDOK) : dialog, posted.message,
                             posted.wParam, posted.lParam);
        }
        script.WaitForClose(dialog);
    });

    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
    ASSERT_EQ(1u, cursorsLoaded.size());
    ASSERT_EQ(1u, cursorsDestroyed.size());
    EXPECT_EQ(cursorsLoaded[0], cursorsDestroyed[0]);
    EXPECT_TRUE(ShellRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutDialogClosing, testing::Values(
    ClosingWay{"OK button", {{Target::OkButton, BM_CLICK, 0, 0}}},
    ClosingWay{"Enter", {{Target::OkButton, WM_KEYDOWN, VK_RETURN, 0x001C0001},
                         {Target::OkButton, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001)}}},
    ClosingWay{"WM_CLOSE", {{Target::Dialog, WM_CLOSE, 0, 0}}},
    ClosingWay{"caption close button", {{Target::Dialog, WM_SYSCOMMAND, SC_CLOSE, 0}}},
    ClosingWay{"Alt+F4", {{Target::OkButton, WM_SYSKEYDOWN, VK_F4, 0x203E0001}}},
    ClosingWay{"Tab past both labels back to OK, then Enter",
               {Tab, Tab, Tab, {Target::KeyToFocus, WM_KEYDOWN, VK_RETURN, 0}}}));

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

// ---- High contrast -----------------------------------------------------------------------------

namespace {

// What the system answers the module when it asks whether high contrast is on. Wine cannot switch
// high contrast on, so the case answers for it through the module's import of the question.
enum class Contrast { Off, On, Unanswered };

using SystemParametersFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);
SystemParametersFunction realSystemParameters = nullptr;
Contrast contrastAnswer = Contrast::Off;
int contrastQuestions = 0;

BOOL WINAPI AnsweringSystemParameters(UINT action, UINT parameter, PVOID data, UINT update)
{
    if (action != SPI_GETHIGHCONTRAST)
        return realSystemParameters(action, parameter, data, update);
    ++contrastQuestions;
    HIGHCONTRASTW* contrast = static_cast<HIGHCONTRASTW*>(data);
    if (contrastAnswer == Contrast::Unanswered) {
        contrast->dwFlags = ~0u;  // whatever a failed call leaves must not count
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL answered = realSystemParameters(action, parameter, data, update);
    if (answered && contrastAnswer == Contrast::On)
        contrast->dwFlags |= HCF_HIGHCONTRASTON;
    return answered;
}

// A link colour no scheme uses, set for the case and put back afterwards.
const COLORREF DistinctHotLight = RGB(0x12, 0xA4, 0x56);

struct LinkColouring {
    const char* name;
    Contrast contrast;
    bool hotLight;  // the labels paint in COLOR_HOTLIGHT, else in pure blue
};

void PrintTo(const LinkColouring& row, std::ostream* out)
{
    *out << row.name;
}

class AboutDialogLinkColour : public testing::TestWithParam<LinkColouring> {
protected:
    void SetUp() override
    {
        savedHotLight_ = GetSysColor(COLOR_HOTLIGHT);
        INT element = COLOR_HOTLIGHT;
        COLORREF colour = DistinctHotLight;
        ASSERT_TRUE(SetSysColors(1, &element, &colour));
        ASSERT_EQ(DistinctHotLight, GetSysColor(COLOR_HOTLIGHT));
    }
    void TearDown() override
    {
        INT element = COLOR_HOTLIGHT;
        SetSysColors(1, &element, &savedHotLight_);
    }

private:
    COLORREF savedHotLight_ = 0;
};

} // namespace

TEST_P(AboutDialogLinkColour, LabelsPaintInTheLinkColourOfTheScheme)
{
    const LinkColouring& row = GetParam();
    HWND messenger = InjectedMessenger(Language::English);
    contrastAnswer = row.contrast;
    realSystemParameters = reinterpret_cast<SystemParametersFunction>(ReplaceImport(
        Module(), "USER32.dll", "SystemParametersInfoW", reinterpret_cast<void*>(AnsweringSystemParameters)));
    ASSERT_NE(nullptr, realSystemParameters) << "the module does not ask whether high contrast is on";
    int supportBlue = 0, homepageBlue = 0, supportHot = 0, homepageHot = 0, versionBlue = 0, versionHot = 0;

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        HWND support = GetDlgItem(dialog, IDC_SUPPORT_LINK);
        HWND homepage = GetDlgItem(dialog, IDC_HOMEPAGE_LINK);
        HWND version = GetDlgItem(dialog, IDC_VERSION_TEXT);
        supportBlue = BluePixels(script, support);
        homepageBlue = BluePixels(script, homepage);
        versionBlue = BluePixels(script, version);
        supportHot = PixelsOf(script, support, DistinctHotLight);
        homepageHot = PixelsOf(script, homepage, DistinctHotLight);
        versionHot = PixelsOf(script, version, DistinctHotLight);
        CloseWithOk(script, dialog);
    });

    EXPECT_GT(contrastQuestions, 0);
    EXPECT_GT(row.hotLight ? supportHot : supportBlue, 20);
    EXPECT_GT(row.hotLight ? homepageHot : homepageBlue, 20);
    EXPECT_EQ(0, row.hotLight ? supportBlue : supportHot);
    EXPECT_EQ(0, row.hotLight ? homepageBlue : homepageHot);
    EXPECT_EQ(0, versionBlue);
    EXPECT_EQ(0, versionHot) << "only the labels are links";
}

INSTANTIATE_TEST_SUITE_P(Schemes, AboutDialogLinkColour, testing::Values(
    LinkColouring{"normal colours: pure blue", Contrast::Off, false},
    LinkColouring{"high contrast: the scheme's link colour", Contrast::On, true},
    LinkColouring{"question unanswered: pure blue", Contrast::Unanswered, false}));

// ---- A second request while the box is open ----------------------------------------------------

// Another add-in or a script sends "About Orvella..." again while the box is open: nothing new
// opens, the open box comes to the front, Messenger stays disabled, and the box keeps its cursor.
TEST(AboutDialog, SecondRequestBringsTheOpenBoxForward)
{
    HWND messenger = InjectedMessenger(Language::English);
    HCURSOR hand = LoadCursorA(nullptr, SystemHand);
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    HWND aboutDialog = nullptr, foreground = nullptr, active = nullptr;
    size_t boxesOpen = 0;
    bool elsewhereInFront = false, messengerEnabled = true;
    CursorAnswer overSupport = {};

    WithAboutDialog(messenger, EnglishAboutCaption, [&](ModalScript& script, HWND dialog) {
        aboutDialog = dialog;
        // Another window of Messenger's thread, which the box does not disable, is in front.
        HWND elsewhere = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_CAPTION | WS_VISIBLE, 300, 300, 200,
                                         100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(elsewhere);
        elsewhereInFront = WaitUntil([&] { return GetForegroundWindow() == elsewhere; }, 3000);
        PostMessageA(messenger, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
        Linger(1500);
        std::vector<HWND> boxes = OpenAboutDialogs();
        boxesOpen = boxes.size();
        foreground = GetForegroundWindow();
        active = GetActiveWindow();
        for (HWND box : boxes)
            if (box != dialog)
                CloseWithOk(script, box);  // a second box: closed as the user would
        messengerEnabled = IsWindowEnabled(messenger) != FALSE;
        overSupport = CursorOver(script, dialog, GetDlgItem(dialog, IDC_SUPPORT_LINK), cross);
        DestroyWindow(elsewhere);
        CloseWithOk(script, dialog);
    });

    EXPECT_TRUE(elsewhereInFront) << "the other window never came to the front";
    EXPECT_EQ(1u, boxesOpen) << "a second About box opened";
    EXPECT_EQ(aboutDialog, foreground);
    EXPECT_EQ(aboutDialog, active);
    EXPECT_FALSE(messengerEnabled) << "Messenger is enabled while the box is open";
    EXPECT_EQ(TRUE, overSupport.procedureResult);
    EXPECT_EQ(hand, overSupport.cursor) << "the open box lost its hand cursor";
    ASSERT_EQ(1u, dialogResults.size());
    EXPECT_EQ(1, dialogResults[0]);
    EXPECT_EQ(1u, cursorsLoaded.size());
    EXPECT_EQ(1u, cursorsDestroyed.size());
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands) << "the command also reached Messenger";
    EXPECT_TRUE(MessengerResponds(messenger));
}
