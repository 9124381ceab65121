#include "settings/settings_sheet.h"
void ShowSettingsSheet(HWND) {}
void InitMapi() {}
void UninitMapi() {}
