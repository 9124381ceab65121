// The router in Messenger's window-procedure chain, among other add-ins that subclass the same
// window. What the router replaced is kept on the window itself (two window properties), so that
// every routed window has its own, a destroyed window takes it with it, and nothing about the
// chain is ever guessed from the window's top procedure alone.
#include "host/module.h"
#include "res/resource.h"
#include "about/about_dialog.h"
#include "about/help.h"
#include "about/links.h"
#include "settings/settings_sheet.h"

namespace {

// Property atoms, made at the first routing and kept for the life of the process.
ATOM ReplacedProcedureAtom = 0;   // the procedure the router replaced
ATOM AnsiChainAtom = 0;           // present when the router was set with the "A" call

LPCWSTR Property(ATOM atom) { return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)); }

bool MakePropertyAtoms()
{
    if (!ReplacedProcedureAtom)
        ReplacedProcedureAtom = GlobalAddAtomW(L"OrvlHook Replaced Procedure");
    if (!AnsiChainAtom)
        AnsiChainAtom = GlobalAddAtomW(L"OrvlHook Ansi Chain");
    return ReplacedProcedureAtom && AnsiChainAtom;
}

WNDPROC ReplacedProcedure(HWND window)
{
    if (!ReplacedProcedureAtom)
        return nullptr;
    return reinterpret_cast<WNDPROC>(GetPropW(window, Property(ReplacedProcedureAtom)));
}

bool RoutedWithAnsiCalls(HWND window)
{
    return AnsiChainAtom && GetPropW(window, Property(AnsiChainAtom)) != nullptr;
}

// A procedure read with the other character set's call comes back as a different value, so a
// window's procedures are always read and set with the calls the router was set with.
WNDPROC TopProcedure(HWND window, bool ansi)
{
    LONG value = ansi ? GetWindowLongA(window, GWL_WNDPROC) : GetWindowLongW(window, GWL_WNDPROC);
    return reinterpret_cast<WNDPROC>(value);
}

void ForgetRouting(HWND window)
{
    RemovePropW(window, Property(ReplacedProcedureAtom));
    RemovePropW(window, Property(AnsiChainAtom));
}

} // namespace

void RouteCommandsThrough(HWND window)
{
    // The usual case, on every trigger message: the router is on top (read with the window's own
    // character set, the router's address comes back as it is).
    if (TopProcedure(window, !IsWindowUnicode(window)) == CommandRouterProc)
        return;
    WNDPROC replaced = ReplacedProcedure(window);
    if (replaced && TopProcedure(window, RoutedWithAnsiCalls(window)) != replaced)
        return;  // still in the chain, on top or under other add-ins: never subclass twice
    // Not routed yet, or a neighbour cut the router out by putting back exactly what the router
    // had replaced: route (again) on top.
    if (!MakePropertyAtoms())
        return;
    // A Unicode window stays Unicode: it is subclassed with the "W" calls, an ANSI one with "A".
    bool ansi = !IsWindowUnicode(window);
    WNDPROC current = TopProcedure(window, ansi);
    if (!current)
        return;
    if (!SetPropW(window, Property(ReplacedProcedureAtom), reinterpret_cast<HANDLE>(current)))
        return;
    RemovePropW(window, Property(AnsiChainAtom));
    if (ansi && !SetPropW(window, Property(AnsiChainAtom), reinterpret_cast<HANDLE>(1))) {
        ForgetRouting(window);
        return;
    }
    LONG router = reinterpret_cast<LONG>(CommandRouterProc);
    if (!(ansi ? SetWindowLongA(window, GWL_WNDPROC, router) : SetWindowLongW(window, GWL_WNDPROC, router)))
        ForgetRouting(window);
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
    WNDPROC replaced = ReplacedProcedure(window);
    bool ansi = RoutedWithAnsiCalls(window);
    if (!replaced) {
        // Only reachable if somebody else put the router on a window it never routed.
        return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                       : DefWindowProcA(window, message, wParam, lParam);
    }
    LRESULT result = ansi ? CallWindowProcA(replaced, window, message, wParam, lParam)
                          : CallWindowProcW(replaced, window, message, wParam, lParam);
    if (message == WM_NCDESTROY)
        ForgetRouting(window);  // the window's last message: a new window starts afresh
    return result;
}
