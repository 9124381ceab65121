// About dialog (built by a later change; until then the command does nothing).
#include "about/about_dialog.h"

INT_PTR ShowAboutDialog(HWND) { return 0; }
INT_PTR CALLBACK AboutDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
LRESULT CALLBACK LinkLabelProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
void SubclassLinkLabel(HWND) {}
void SetLinkFont(HWND, int) {}
