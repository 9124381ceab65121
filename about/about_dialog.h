// The modal About dialog with its two link labels.
#ifndef ORVLHOOK_ABOUT_ABOUT_DIALOG_H
#define ORVLHOOK_ABOUT_ABOUT_DIALOG_H

#include <windows.h>

INT_PTR ShowAboutDialog(HWND owner);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LinkLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam);
void SubclassLinkLabel(HWND label);
void SetLinkFont(HWND dialog, int controlId);
// Opens what a double-click on the label opens, once the dialog's loop gets to it; false (and
// nothing opened) when the label is not a link label of the open About box.
bool OpenLinkLabelLater(HWND label);

#endif
