// Counting what this process holds, and checking that Messenger still answers.
#include "tests/rig/rig.h"
#include "sandbox/messenger/messenger_window.h"

#include <cstdio>

namespace rig {

namespace {

// Kernel handles are multiples of four; Wine's table of a test process stays far below this.
const ULONG_PTR LastKernelHandle = 0x20000;
// GDI and USER handles keep their slot index in the low word.
const ULONG_PTR LastGdiSlot = 0xFFFF;
const ULONG_PTR FirstUserHandle = 0x20;
const ULONG_PTR LastUserHandle = 0xFFEF;

BOOL CALLBACK CountChildWindow(HWND, LPARAM counter)
{
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM counter)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<int*>(counter);
        EnumChildWindows(window, CountChildWindow, counter);
    }
    return TRUE;
}

} // namespace

ProcessResources CountProcessResources()
{
    ProcessResources counts;
    for (ULONG_PTR value = 4; value <= LastKernelHandle; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++counts.kernelHandles;
    }
    for (ULONG_PTR slot = 1; slot <= LastGdiSlot; ++slot)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(slot)))
            ++counts.gdiObjects;
    for (ULONG_PTR value = FirstUserHandle; value <= LastUserHandle; value += 2) {
        if (IsMenu(reinterpret_cast<HMENU>(value))) {
            ++counts.menus;
            continue;
        }
        ICONINFO info = {};
        if (GetIconInfo(reinterpret_cast<HICON>(value), &info)) {
            ++counts.cursorsAndIcons;
            // The copies that GetIconInfo makes are ours to delete, and not counted above.
            if (info.hbmMask)
                DeleteObject(info.hbmMask);
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
        }
    }
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&counts.windows));
    return counts;
}

std::string Describe(const ProcessResources& resources)
{
    char text[160];
    std::snprintf(text, sizeof text, "kernel handles %d, GDI objects %d, menus %d, cursors/icons %d, windows %d",
                  resources.kernelHandles, resources.gdiObjects, resources.menus, resources.cursorsAndIcons,
                  resources.windows);
    return text;
}

ProcessResources Growth(const ProcessResources& before, const ProcessResources& after)
{
    ProcessResources growth;
    growth.kernelHandles = after.kernelHandles - before.kernelHandles;
    growth.gdiObjects = after.gdiObjects - before.gdiObjects;
    growth.menus = after.menus - before.menus;
    growth.cursorsAndIcons = after.cursorsAndIcons - before.cursorsAndIcons;
    growth.windows = after.windows - before.windows;
    return growth;
}

bool MessengerResponds(HWND messenger, DWORD timeoutMs)
{
    if (!IsWindow(messenger))
        return false;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(messenger, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer))
        return false;
    const WPARAM probe = 0x2A;
    if (!SendMessageTimeoutA(messenger, sandbox::MessengerQueryMessage, probe, 0, SMTO_ABORTIFHUNG, timeoutMs, &answer))
        return false;
    return answer == static_cast<DWORD_PTR>(sandbox::MessengerQueryAnswer + probe);
}

} // namespace rig
