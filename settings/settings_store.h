// The add-in's settings key under HKEY_CURRENT_USER, shared with the add-in host module.
#ifndef ORVLHOOK_SETTINGS_SETTINGS_STORE_H
#define ORVLHOOK_SETTINGS_SETTINGS_STORE_H

#include <windows.h>

extern const char SettingsKeyPath[];  // "SOFTWARE\Dorvane Ltd\Orvella"

// Capacity of the "Profile" and "Password" texts, terminator included.
const DWORD SettingTextCapacity = 300;

struct LogonSettings {
    DWORD autoLogon;                     // non-zero: automatic logon
    char profile[SettingTextCapacity];
    char password[SettingTextCapacity];
};

// Fills settings from the key; each value that cannot be read keeps its default
// (automatic logon, empty profile and password).
void ReadLogonSettings(LogonSettings& settings);

// Writes "AutoLogon", "Profile", "Password" in that order; false if the key could not be opened.
bool WriteLogonSettings(const LogonSettings& settings);

#endif
