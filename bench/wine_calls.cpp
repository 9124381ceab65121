#include "bench/wine_calls.h"
#include "bench/bench.h"
#include "res/resource.h"

#include <vector>

namespace bench {

const char* const StepNames[StepCount] = {
    "OpenEventA (host's event)",
    "FindWindowA + GetWindowLongA (router check)",
    "SetEvent + CloseHandle",
    "GetModuleFileNameA + LoadLibraryA (pin)",
    "SetWindowsHookExA (WH_GETMESSAGE)",
    "CreateEventA (marker)",
    "FindWindowA + GetMenu + GetMenuItemInfoA (menu present?)",
    "LoadMenuA + GetSubMenu + GetMenuItemInfoA (caption)",
    "AppendMenuA + RemoveMenu + DestroyMenu",
    "DrawMenuBar",
    "GetWindowLongA + SetWindowLongA (subclass)",
};

const char* const StepKeys[StepCount] = {
    "open_event", "router_check", "signal_host", "pin", "set_hook", "create_marker",
    "menu_check", "load_menu", "append_menu", "draw_menu_bar", "subclass",
};

namespace {

LRESULT CALLBACK PassThroughHook(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

WNDPROC replayedOriginal = nullptr;

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(replayedOriginal, window, message, wParam, lParam);
}

} // namespace

bool ReplayExportCalls(HWND window, HMODULE resources, HMODULE pin, const char* hostEventName,
                       const char* markerName, double (&steps)[StepCount])
{
    LONGLONG mark = Ticks();
    auto step = [&](ReplayStep which) {
        LONGLONG now = Ticks();
        steps[which] = Microseconds(now - mark);
        mark = Ticks();
    };
    HANDLE host = OpenEventA(EVENT_MODIFY_STATE, FALSE, hostEventName);
    step(StepOpenHostEvent);
    HWND found = FindWindowA("MSBLClass", nullptr);
    volatile LONG_PTR procedure = found ? GetWindowLongPtrA(found, GWLP_WNDPROC) : 0;
    (void)procedure;
    step(StepRouterCheck);
    SetEvent(host);
    CloseHandle(host);
    step(StepSignalHost);
    char path[521];
    GetModuleFileNameA(pin, path, sizeof(path));
    HMODULE pinned = LoadLibraryA(path);
    step(StepPinModule);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, PassThroughHook, nullptr, GetCurrentThreadId());
    step(StepSetHook);
    HANDLE marker = CreateEventA(nullptr, TRUE, TRUE, markerName);
    step(StepCreateMarker);
    found = FindWindowA("MSBLClass", nullptr);
    HMENU bar = GetMenu(window);
    MENUITEMINFOA query = {};
    query.cbSize = sizeof(query);
    query.fMask = MIIM_TYPE;
    BOOL present = GetMenuItemInfoA(bar, IDM_SETTINGS, FALSE, &query);
    step(StepMenuCheck);
    HMENU loaded = LoadMenuA(resources, MAKEINTRESOURCEA(IDR_PRODUCT_MENU));
    HMENU popup = GetSubMenu(loaded, 0);
    char caption[49] = "";
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = caption;
    item.cch = sizeof(caption);
    GetMenuItemInfoA(loaded, 0, TRUE, &item);
    step(StepLoadMenu);
    BOOL appended = AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), caption);
    RemoveMenu(loaded, 0, MF_BYPOSITION);
    DestroyMenu(loaded);
    step(StepAppendMenu);
    DrawMenuBar(window);
    step(StepDrawMenuBar);
    replayedOriginal = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RelayProc));
    step(StepSubclass);

    bool ok = host && found && !present && pinned && hook && marker && popup && appended;
    if (pinned)
        FreeLibrary(pinned);
    if (hook)
        UnhookWindowsHookEx(hook);
    return ok;
}

void MeasureFrameChange(HWND window, int repeats, double& drawMenuBarUs, double& frameChangedUs,
                        double& framePaintedUs)
{
    std::vector<double> drawn, changed, painted;
    for (int i = 0; i < repeats; ++i) {
        LONGLONG begin = Ticks();
        DrawMenuBar(window);
        drawn.push_back(MicrosecondsSince(begin));
        Pump(50);
        begin = Ticks();
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        changed.push_back(MicrosecondsSince(begin));
        Pump(50);
        begin = Ticks();
        RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_NOERASE);
        painted.push_back(MicrosecondsSince(begin));
        Pump(50);
    }
    drawMenuBarUs = Median(drawn);
    frameChangedUs = Median(changed);
    framePaintedUs = Median(painted);
}

} // namespace bench
