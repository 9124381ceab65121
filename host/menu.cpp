// The "Orvella" popup in Messenger's menu bar.
#include "host/module.h"
#include "res/resource.h"

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

// Appends the popup to the bar and redraws it; false when nothing was appended.
bool AppendProductMenu(HWND window, HMENU menuBar)
{
    // Wide calls: the caption reaches the bar as written, whatever the ANSI code page.
    HMENU loaded = LoadMenuW(ModuleInstance, LocalizedResourceW(IDR_PRODUCT_MENU));
    if (!loaded)
        return false;
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
        return false;
    }
    // The popup now belongs to Messenger's bar; drop only the resource's empty container.
    RemoveMenu(loaded, 0, MF_BYPOSITION);
    DestroyMenu(loaded);

    DrawMenuBar(window);
    return true;
}

// Messenger's main window is the "MSBLClass" window of the thread we run on: the host hooks
// Messenger's user-interface thread, which owns it. Another program's window of the same class,
// wherever it stands in the window order, is passed over and never touched. Messenger's window is
// usually the first one found, so the usual cost is one lookup.
HWND FindMessengerWindow()
{
    DWORD ownThread = GetCurrentThreadId();
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, MessengerWindowClass, nullptr)) != nullptr) {
        if (GetWindowThreadProcessId(window, nullptr) == ownThread)
            return window;
    }
    return nullptr;
}

} // namespace

void InstallProductMenu(HWND window)
{
    if (!window)
        window = FindMessengerWindow();
    if (!window)
        return;
    HMENU menuBar = GetMenu(window);
    if (!menuBar)
        return;
    if (!ProductMenuPresent(menuBar) && !AppendProductMenu(window, menuBar))
        return;
    // The popup's commands reach us only through the router; the window may be new, or another
    // add-in may have cut the router out of its chain.
    RouteCommandsThrough(window);
}
