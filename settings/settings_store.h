// The add-in's settings key under HKEY_CURRENT_USER, shared with the add-in host module, which
// reads the logon choice from it.
#ifndef ORVLHOOK_SETTINGS_SETTINGS_STORE_H
#define ORVLHOOK_SETTINGS_SETTINGS_STORE_H

#include <windows.h>

extern const char SettingsKeyPath[];  // "SOFTWARE\Dorvane Ltd\Orvella"

// Capacity of the "Profile" and "Password" texts, terminator included.
const DWORD SettingTextCapacity = 300;

// Reads "Profile", "Password" and "AutoLogon". Each value that cannot be read keeps its
// default: empty texts, automatic logon (1). Returns false if the key could not be opened.
bool ReadLogonSettings(DWORD& autoLogon, char (&profile)[SettingTextCapacity], char (&password)[SettingTextCapacity]);

// Creates the key if needed and writes "AutoLogon", "Profile", "Password" in that order.
// Returns false (nothing written) if the key could not be created or opened.
bool WriteLogonSettings(DWORD autoLogon, const char* profile, const char* password);

#endif
