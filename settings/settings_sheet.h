// The modal "Orvella Settings" property sheet and the MAPI bracket around it.
#ifndef ORVLHOOK_SETTINGS_SETTINGS_SHEET_H
#define ORVLHOOK_SETTINGS_SETTINGS_SHEET_H

#include <windows.h>

void ShowSettingsSheet(HWND owner);
void InitMapi();
void UninitMapi();

#endif
