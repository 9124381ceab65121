// Reading and writing the logon settings. Stored values are untrusted: any type, any size,
// with or without a terminator.
#include "settings/settings_store.h"

const char SettingsKeyPath[] = "SOFTWARE\\Dorvane Ltd\\Orvella";

namespace {

// Reads a text value into a field of SettingTextCapacity bytes. Every text the page can write
// (up to capacity - 1 characters and the terminator) reads back whole; a value that does not fit,
// or fills the field without a terminator, leaves the field empty.
void ReadText(HKEY key, const char* name, char (&field)[SettingTextCapacity])
{
    DWORD size = SettingTextCapacity;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(field), &size) != ERROR_SUCCESS
        || size > SettingTextCapacity) {
        field[0] = '\0';
        return;
    }
    if (size < SettingTextCapacity)
        field[size] = '\0';
    else if (field[SettingTextCapacity - 1] != '\0')
        field[0] = '\0';
    field[SettingTextCapacity - 1] = '\0';
}

void WriteText(HKEY key, const char* name, const char* text)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(lstrlenA(text)) + 1);
}

} // namespace

bool ReadLogonSettings(DWORD& autoLogon, char (&profile)[SettingTextCapacity], char (&password)[SettingTextCapacity])
{
    autoLogon = 1;
    profile[0] = '\0';
    password[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    ReadText(key, "Profile", profile);
    ReadText(key, "Password", password);
    // Four bytes over the default, whatever the type: a shorter value replaces the low bytes.
    DWORD size = sizeof(autoLogon);
    if (RegQueryValueExA(key, "AutoLogon", nullptr, nullptr, reinterpret_cast<BYTE*>(&autoLogon), &size)
        != ERROR_SUCCESS)
        autoLogon = 1;
    RegCloseKey(key);
    return true;
}

bool WriteLogonSettings(DWORD autoLogon, const char* profile, const char* password)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    RegSetValueExA(key, "AutoLogon", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&autoLogon), sizeof(autoLogon));
    WriteText(key, "Profile", profile);
    WriteText(key, "Password", password);
    RegCloseKey(key);
    return true;
}
