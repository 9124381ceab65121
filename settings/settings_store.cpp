#include "settings/settings_store.h"
const char SettingsKeyPath[] = "SOFTWARE\\Dorvane Ltd\\Orvella";
void ReadLogonSettings(LogonSettings&) {}
bool WriteLogonSettings(const LogonSettings&) { return false; }
