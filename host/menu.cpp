// The "Orvella" popup in Messenger's menu bar and the router that takes its commands.
#include "host/module.h"
#include "host/resources.h"
#include "res/resource.h"
#include "about/about_dialog.h"
#include "about/help.h"
#include "about/links.h"
#include "settings/settings_sheet.h"

static_assert(sizeof(MENUITEMINFOA) == 48, "menu item records are 48 bytes on this platform");

namespace {

// Our popup is in the bar when command IDM_SETTINGS can be found in it (the search by command
// descends into popups), whatever kind of item the bar starts with.
bool ProductMenuPresent(HMENU menuBar)
{
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_TYPE;
    return GetMenuItemInfoA(menuBar, IDM_SETTINGS, FALSE, &item) != FALSE;
}

void RouteCommandsThrough(HWND window)
{
    WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongA(window, GWL_WNDPROC));
    if (current == CommandRouterProc)
        return;  // already routed: MessengerWindowProc still holds Messenger's own procedure
    MessengerWindowProc = current;
    if (current)
        SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG>(CommandRouterProc));
}

} // namespace

void InstallProductMenu(HWND window)
{
    if (!window)
        window = FindWindowA(MessengerWindowClass, nullptr);
    if (!window)
        return;
    HMENU menuBar = GetMenu(window);
    if (!menuBar || ProductMenuPresent(menuBar))
        return;

    // Wide calls: the caption reaches the bar as written, whatever the ANSI code page.
    HMENU loaded = LoadMenuW(ModuleInstance, LocalizedResourceW(IDR_PRODUCT_MENU));
    if (!loaded)
        return;
    HMENU popup = GetSubMenu(loaded, 0);
    wchar_t caption[49] = L"";
    MENUITEMINFOW item = {};
    static_assert(sizeof(item) == 48, "menu item records are 48 bytes on this platform");
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = caption;
    item.cch = sizeof(caption) / sizeof(caption[0]);
    GetMenuItemInfoW(loaded, 0, TRUE, &item);

    if (!popup || !AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), caption)) {
        DestroyMenu(loaded);
        return;
    }
    // The popup now belongs to Messenger's bar; drop only the resource's empty container.
    RemoveMenu(loaded, 0, MF_BYPOSITION);
    DestroyMenu(loaded);

    DrawMenuBar(window);
    RouteCommandsThrough(window);
}

LRESULT CALLBACK CommandRouterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDM_SETTINGS:
            ShowSettingsSheet(window);
            return 0;
        case IDM_HELP:
            OpenHelpTopic(window, "Intro.htm");
            return 0;
        case IDM_HOMEPAGE:
            OpenHomepage(window);
            return 0;
        case IDM_ABOUT:
            ShowAboutDialog(window);
            return 0;
        default:
            break;
        }
    }
    if (!MessengerWindowProc)
        return 0;
    return CallWindowProcA(MessengerWindowProc, window, message, wParam, lParam);
}
