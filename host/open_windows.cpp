// What the dialogs share about their open windows: one request shows the user the window that a
// repeated menu command would otherwise open a second time.
#include "host/module.h"

void BringOpenWindowForward(HWND window)
{
    if (!IsWindow(window))  // none yet, or closed meanwhile
        return;
    HWND front = GetLastActivePopup(window);  // the window itself when nothing waits over it
    SetForegroundWindow(front);
    BringWindowToTop(front);
}
