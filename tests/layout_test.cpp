// Every text of the Logon page (as it stands in the sheet) and of the About box, measured in its
// control's own font the way the control draws it, and again in that font one pixel taller (a
// face a little wider than Wine's Tahoma): it must fit its control, and no control may overlap
// another or leave its dialog. Each case runs at the DPI its prefix's server started with
// (ORVL_DPIS in layout_test.env, tests/CMakeLists.txt).
#include "tests/about_links_support.h"
#include "tests/mapi_support.h"

#include <cstdlib>
#include <sstream>

using namespace rig;

namespace {

// Windows XP and Windows 7 at 125 % show Messenger the real DPI; Wine 10, like Windows 8, shows a
// process that declares nothing 96. Declared before any window, the real DPI under both Wines.
const bool dpiAware = [] {
    auto declare = reinterpret_cast<BOOL(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware")));
    return declare && declare();
}();

// What of the control's text does not fit when drawn in `font`; empty when it fits.
std::string Shortfall(HWND control, HFONT font)
{
    const std::string className = ClassName(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    RECT room;
    GetClientRect(control, &room);
    UINT format = DT_CALCRECT | DT_WORDBREAK;                  // a static label wraps at words
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    if (className == "Button" && (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        room.right -= GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth / 2;   // its box and gap
    else if (className == "Button") {
        format = DT_CALCRECT | DT_SINGLELINE;                  // a push button keeps one line
        InflateRect(&room, -2 * GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
    } else if (style & SS_NOTIFY)
        format = DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX;    // a link label paints one line
    const std::wstring text = Wide(WindowText(control));
    RECT need = {0, 0, room.right - room.left, 0};
    DrawTextW(dc, text.c_str(), -1, &need, format);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    std::ostringstream out;
    if (need.right > room.right - room.left)
        out << need.right - (room.right - room.left) << " px too narrow; ";
    const int line = metrics.tmHeight, missing = need.bottom - (room.bottom - room.top);
    if (missing > 0)
        out << missing << " px too low: " << need.bottom / line << " lines of " << line << " px, room for "
            << (room.bottom - room.top) / line << "; ";
    return out.str();
}

void ExpectEveryTextFits(HWND dialog, int dpi)
{
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(dpi, GetDeviceCaps(screen, LOGPIXELSY)) << "the case runs at another DPI";
    ReleaseDC(nullptr, screen);
    RECT area, previous[32];
    GetClientRect(dialog, &area);
    int count = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control && count < 32; control = GetWindow(control, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        const std::string name = ClassName(control) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" +
                                 WindowText(control) + "\"";
        RECT place, overlap;
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        EXPECT_TRUE(UnionRect(&overlap, &area, &place) && EqualRect(&overlap, &area)) << name << " leaves its dialog";
        if ((style & BS_TYPEMASK) == BS_GROUPBOX && ClassName(control) == "Button")
            continue;                                          // a frame holds its controls by design
        for (int i = 0; i < count; ++i)
            EXPECT_FALSE(IntersectRect(&overlap, &previous[i], &place)) << name << " overlaps another control";
        previous[count++] = place;
        if (WindowText(control).empty() || (ClassName(control) != "Static" && ClassName(control) != "Button"))
            continue;                                          // icons, the list and the password box
        auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        LOGFONTW taller = {};
        GetObjectW(font, sizeof(taller), &taller);
        taller.lfHeight += taller.lfHeight < 0 ? -1 : 1;
        HFONT tallerFont = CreateFontIndirectW(&taller);
        EXPECT_EQ("", Shortfall(control, font)) << name << " at " << dpi << " DPI";
        EXPECT_EQ("", Shortfall(control, tallerFont)) << name << " at " << dpi << " DPI, one pixel taller";
        DeleteObject(tallerFont);
    }
}

struct Row { const char* name; bool about; Language language; };
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
class DialogLayout : public testing::TestWithParam<Row> {};

TEST_P(DialogLayout, EveryTextFitsItsControl)
{
    ASSERT_TRUE(dpiAware) << "SetProcessDPIAware failed";
    const char* dpi = std::getenv("ORVL_DPI");
    const bool russian = GetParam().language == Language::Russian;
    MapiFixture::Clear();
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    ASSERT_NE(nullptr, LoadModule(GetParam().language));
    ASSERT_TRUE(InjectAsHost());
    if (!GetParam().about)
        return WithSettingsSheet(messenger, russian ? RussianSettingsCaption : SettingsCaption,
                                 [&](ModalScript& script, HWND sheet, HWND page) {
                                     ExpectEveryTextFits(page, dpi ? std::atoi(dpi) : 96);
                                     script.PressSheetButton(sheet, PSBTN_CANCEL);
                                 });
    RunModal([&] { SendMessageW(messenger, WM_COMMAND, IDM_ABOUT, 0); }, [&](ModalScript& script) {
        HWND about = script.WaitForWindow("#32770", russian ? about_support::RussianAboutCaption
                                                            : about_support::EnglishAboutCaption);
        ASSERT_NE(nullptr, about);
        ExpectEveryTextFits(about, dpi ? std::atoi(dpi) : 96);
        script.Click(about, IDOK);
        script.WaitForClose(about);
    });
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogLayout, testing::Values(
    Row{"Logon page, English", false, Language::English}, Row{"Logon page, Russian", false, Language::Russian},
    Row{"About box, English", true, Language::English}, Row{"About box, Russian", true, Language::Russian}));

} // namespace
