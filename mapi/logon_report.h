// "Test logon": a logon through MAPI with a given profile and password, and its report.
#ifndef ORVLHOOK_MAPI_LOGON_REPORT_H
#define ORVLHOOK_MAPI_LOGON_REPORT_H

#include <windows.h>

// Logs on with the profile and password (ANSI, as MAPI takes them; an empty profile lets MAPI
// ask), looks for the default message store and the user's identity, logs off, and reports in a
// message box. `owner` owns MAPI's logon dialogs and the box.
void ReportTestLogon(HWND owner, const char* profileName, const char* password);

#endif
