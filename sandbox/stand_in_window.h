// The window class of a stand-in's small information window (the browser's, the help recorder's):
// arrow cursor, window-coloured background.
#ifndef ORVL_SANDBOX_STAND_IN_WINDOW_H
#define ORVL_SANDBOX_STAND_IN_WINDOW_H

#include <windows.h>

namespace sandbox {

// Fails (harmlessly) when the class is registered already.
inline bool RegisterStandInWindowClass(HINSTANCE instance, WNDPROC procedure, const char* className)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace sandbox

#endif
