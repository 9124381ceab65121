// Every text of the Logon page (as it stands in the sheet) and of the About box, measured in its
// control's own font the way the control draws it, and again in that font one pixel taller (a
// face a little wider than Wine's Tahoma): it must fit its control, and no control may overlap
// another or leave its dialog. Each case runs at the DPI its prefix's server started with
// (ORVL_DPIS in layout_test.env, tests/CMakeLists.txt; the rig makes the process DPI-aware).
#include "tests/about_links_support.h"
#include "tests/mapi_support.h"

#include <cstdlib>
#include <sstream>

using namespace rig;

namespace {

// What of the control's text does not fit, drawn in its own font made `extra` pixels taller.
std::string Shortfall(HWND control, int extra)
{
    LOGFONTW description = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(description), &description);
    description.lfHeight += description.lfHeight < 0 ? -extra : extra;
    HFONT font = CreateFontIndirectW(&description);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    RECT room;
    GetClientRect(control, &room);
    UINT format = DT_CALCRECT | DT_WORDBREAK;                  // a static label wraps at words
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (ClassName(control) == "Button" && (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        room.left += GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth / 2;   // its box and gap
    else if (ClassName(control) == "Button") {
        format = DT_CALCRECT | DT_SINGLELINE;                  // a push button keeps one line, inside its edges
        InflateRect(&room, -2 * GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
    } else if (style & SS_NOTIFY)
        format = DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX;    // a link label paints one line
    const int width = room.right - room.left, height = room.bottom - room.top, line = metrics.tmHeight;
    RECT need = {0, 0, width, 0};
    DrawTextW(dc, Wide(WindowText(control)).c_str(), -1, &need, format);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    DeleteObject(font);
    std::ostringstream out;
    if (need.right > width)
        out << need.right - width << " px too narrow; ";
    if (need.bottom > height)
        out << need.bottom - height << " px too low: " << need.bottom / line << " lines, room for " << height / line;
    return out.str();
}

// Every text fits, in the font as it is and one pixel taller; no control overlaps another (a
// group frame holds its controls by design) or leaves the dialog.
void ExpectEveryTextFits(HWND dialog)
{
    const char* dpi = std::getenv("ORVL_DPI");   // the rig checks that the process sees it
    RECT area, place, both;
    GetClientRect(dialog, &area);
    std::vector<RECT> placed;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        const std::string className = ClassName(control), text = WindowText(control);
        const std::string name = className + " " + std::to_string(GetDlgCtrlID(control)) + " \"" + text + "\"";
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        EXPECT_TRUE(UnionRect(&both, &area, &place) && EqualRect(&both, &area)) << name << " leaves its dialog";
        if (className == "Button" && (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX)
            continue;                                          // a frame holds its controls by design
        for (const RECT& other : placed)
            EXPECT_FALSE(IntersectRect(&both, &other, &place)) << name << " overlaps another control";
        placed.push_back(place);
        if (text.empty() || (className != "Static" && className != "Button"))
            continue;                                          // icons, the list, the password box
        for (int extra : {0, 1})
            EXPECT_EQ("", Shortfall(control, extra)) << name << " at " << (dpi ? dpi : "96") << " DPI"
                                                     << (extra ? ", one pixel taller" : "");
    }
}

struct Row { const char* name; bool about; Language language; const char* caption; };
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
class DialogLayout : public testing::TestWithParam<Row> {};

TEST_P(DialogLayout, EveryTextFitsItsControl)
{
    MapiFixture::Clear();
    DeleteSettingsKey();
    HWND messenger = CreateMessenger();
    ASSERT_NE(nullptr, LoadModule(GetParam().language));
    ASSERT_TRUE(InjectAsHost());
    if (!GetParam().about)
        return WithSettingsSheet(messenger, GetParam().caption, [](ModalScript& script, HWND sheet, HWND page) {
            ExpectEveryTextFits(page);
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
    RunModal([&] { SendMessageW(messenger, WM_COMMAND, IDM_ABOUT, 0); }, [this](ModalScript& script) {
        HWND about = script.WaitForWindow("#32770", GetParam().caption);
        ASSERT_NE(nullptr, about);
        ExpectEveryTextFits(about);
        script.Click(about, IDOK);
        script.WaitForClose(about);
    });
}

using about_support::EnglishAboutCaption;
using about_support::RussianAboutCaption;
INSTANTIATE_TEST_SUITE_P(Dialogs, DialogLayout, testing::Values(
    Row{"Logon page, English", false, Language::English, SettingsCaption},
    Row{"Logon page, Russian", false, Language::Russian, RussianSettingsCaption},
    Row{"About box, English", true, Language::English, EnglishAboutCaption},
    Row{"About box, Russian", true, Language::Russian, RussianAboutCaption}));

} // namespace
