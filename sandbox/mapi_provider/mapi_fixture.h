// Writes the sandbox MAPI provider's fixture under HKCU\Software\Orvella Sandbox\MAPI.
// Header-only, for tests and the demo tool. A std::nullopt value means "absent": the value is
// deleted, and the provider answers PT_ERROR / MAPI_E_NOT_FOUND (or its default) for it.
// Profiles and stores are subkeys "000", "001", ... in the order they are added.
#pragma once

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

class MapiFixture {
 public:
  using Text = std::optional<std::string>;
  using Flag = std::optional<bool>;
  using Number = std::optional<DWORD>;

  static constexpr const char* kRoot = "Software\\Orvella Sandbox\\MAPI";

  // Removes the whole fixture: no profiles, every step works, every init succeeds.
  static bool Clear() { return DeleteTree(HKEY_CURRENT_USER, kRoot) == ERROR_SUCCESS; }

  // A new profile-table row; returns its index, or -1.
  static int AddProfile(const Text& name, const Flag& isDefault = std::nullopt) {
    const int index = CountSubkeys("Profiles");
    if (index < 0) return -1;
    const std::string key = ProfileKey(index);
    if (!CreateKey(key)) return -1;
    if (!SetString(key, "Name", name) || !SetDword(key, "Default", AsNumber(isDefault))) return -1;
    return index;
  }

  static int ProfileCount() {
    const int count = CountSubkeys("Profiles");
    return count < 0 ? 0 : count;
  }

  // "000" for 0: the subkey name, as "LogonEmptyProfile" wants it.
  static std::string Index(int index) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", index);
    return text;
  }
  static std::string ProfileKey(int profile) { return "Profiles\\" + Index(profile); }

  static bool SetProfileString(int profile, const char* value, const Text& text) {
    return SetString(ProfileKey(profile), value, text);
  }
  static bool SetProfileDword(int profile, const char* value, const Number& number) {
    return SetDword(ProfileKey(profile), value, number);
  }

  // What MAPILogonEx answers for this profile (S_OK removes the value).
  static bool SetLogonResult(int profile, HRESULT hr) {
    return SetProfileDword(profile, "LogonResult", AsResult(hr));
  }

  static bool SetIdentity(int profile, const Text& displayName, const Text& email, const Text& account,
                          const Text& smtp) {
    const std::string key = ProfileKey(profile);
    return SetString(key, "DisplayName", displayName) && SetString(key, "EmailAddress", email) &&
           SetString(key, "Account", account) && SetString(key, "SmtpAddress", smtp);
  }

  // The identity then refuses QueryInterface(IID_IMailUser).
  static bool SetIdentityNotMailUser(int profile, bool notMailUser = true) {
    return SetProfileDword(profile, "IdentityNotMailUser", notMailUser ? Number(1) : std::nullopt);
  }

  // The object type OpenEntry reports for the identity (absent: MAPI_MAILUSER).
  static bool SetIdentityObjectType(int profile, const Number& type) {
    return SetProfileDword(profile, "IdentityObjectType", type);
  }

  // A new row of the profile's message-stores table; returns its index, or -1.
  static int AddStore(int profile, const Text& provider, const Flag& isDefault, const Text& name = std::nullopt) {
    const std::string stores = ProfileKey(profile) + "\\Stores";
    const int index = CountSubkeys(stores);
    if (index < 0) return -1;
    const std::string key = stores + "\\" + Index(index);
    if (!CreateKey(key)) return -1;
    if (!SetString(key, "Provider", provider) || !SetDword(key, "Default", AsNumber(isDefault)) ||
        !SetString(key, "Name", name))
      return -1;
    return index;
  }

  // "FailGetProps" etc.: the step answers `hr` instead of working; S_OK makes it work again.
  static bool SetStep(const char* failValueName, HRESULT hr) {
    return SetDword(std::string(), failValueName, AsResult(hr));
  }

  // What MAPIInitialize answers with MAPI_NO_COINIT, without it, and for a null argument.
  static bool SetInit(const std::optional<HRESULT>& noCoinit, const std::optional<HRESULT>& plain = std::nullopt,
                      const std::optional<HRESULT>& null = std::nullopt) {
    return SetDword(std::string(), "InitResultNoCoinit", AsResult(noCoinit)) &&
           SetDword(std::string(), "InitResultPlain", AsResult(plain)) &&
           SetDword(std::string(), "InitResultNull", AsResult(null));
  }

  // The profile an empty profile name logs on to (none: MAPI_E_LOGON_FAILED).
  static bool SetLogonEmptyProfile(const std::optional<int>& profile) {
    return SetString(std::string(), "LogonEmptyProfile", profile ? Text(Index(*profile)) : std::nullopt);
  }

  // Misbehaviour for hostile-input tests: QueryRows hands back up to `extraRows` more rows than
  // asked for; each row carries only `rowValueCount` values; every value comes back in the
  // next column's slot, with its own tag. nullopt switches each off.
  static bool SetMisbehaviour(const Number& extraRows, const Number& rowValueCount, const Flag& rotateValues) {
    return SetDword(std::string(), "ExtraRows", extraRows) && SetDword(std::string(), "RowValueCount", rowValueCount) &&
           SetDword(std::string(), "RotateValues", AsNumber(rotateValues));
  }

  // Misbehaviour: one step answers S_OK yet hands back no object (nullopt: none does). The steps
  // are "AdminProfiles", "GetProfileTable", "ProfileQueryRows", "LogonEx", "GetMsgStoresTable",
  // "StoreQueryRows", "QueryIdentity", "OpenEntry", "QueryInterface" (of the identity), "GetProps".
  static bool SetNullOutput(const Text& step) { return SetString(std::string(), "NullOutput", step); }

  // Misbehaviour: every ANSI text value comes back with its own tag and a null pointer.
  static bool SetNullTexts(bool on) { return SetDword(std::string(), "NullTexts", on ? Number(1) : std::nullopt); }

  // Misbehaviour: a logon that fails still hands back a session, which the caller must release.
  static bool SetSessionDespiteFailure(bool on) {
    return SetDword(std::string(), "SessionDespiteFailure", on ? Number(1) : std::nullopt);
  }

  // A Windows path the provider appends every record line to.
  static bool SetLogFile(const Text& path) { return SetString(std::string(), "LogFile", path); }

  // Quiet: set before the provider's first call in a process, it makes that provider read each
  // fixture value once and write no log file (its calls are still recorded in memory). For
  // benchmarks; Clear() removes it.
  static bool SetQuiet(bool quiet) { return SetDword(std::string(), "Quiet", quiet ? Number(1) : std::nullopt); }

  // Any value below the fixture root ("" is the root itself).
  static bool SetString(const std::string& subkey, const char* name, const Text& text) {
    if (!text) return DeleteValue(subkey, name);
    HKEY key = nullptr;
    if (!OpenForWrite(subkey, &key)) return false;
    const LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                                   static_cast<DWORD>(text->size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
  }

  static bool SetDword(const std::string& subkey, const char* name, const Number& number) {
    if (!number) return DeleteValue(subkey, name);
    HKEY key = nullptr;
    if (!OpenForWrite(subkey, &key)) return false;
    const DWORD value = *number;
    const LONG rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
  }

  // The demo's sample: a working Exchange profile (default), a Personal Folders profile whose
  // identity lacks some addresses, and a profile whose logon fails.
  static bool WriteDemo() {
    if (!Clear()) return false;
    const int exchange = AddProfile(std::string("Exchange (Office)"), true);
    const int personal = AddProfile(std::string("Personal Folders"), false);
    const int broken = AddProfile(std::string("Broken profile"), false);
    if (exchange < 0 || personal < 0 || broken < 0) return false;
    bool ok = AddStore(exchange, std::string("Microsoft Exchange Server"), true, std::string("Mailbox - John Doe")) >= 0 &&
              SetIdentity(exchange, std::string("John Doe"),
                          std::string("/o=Dorvane/ou=Office/cn=Recipients/cn=jdoe"), std::string("jdoe"),
                          std::string("john.doe@dorvane.example"));
    ok = ok && AddStore(personal, std::string("Personal Folders"), true, std::string("Personal Folders")) >= 0 &&
         SetIdentity(personal, std::string("John Doe"), std::nullopt, std::nullopt,
                     std::string("jdoe@home.example"));
    ok = ok && SetLogonResult(broken, static_cast<HRESULT>(0x80040111L));
    // An empty profile name logs on to the default profile, as with a profile prompt answered.
    return ok && SetLogonEmptyProfile(exchange);
  }

 private:
  static Number AsNumber(const Flag& flag) { return flag ? Number(*flag ? 1u : 0u) : std::nullopt; }
  static Number AsResult(const std::optional<HRESULT>& hr) {
    return (hr && *hr != S_OK) ? Number(static_cast<DWORD>(*hr)) : std::nullopt;
  }

  static std::string Path(const std::string& subkey) {
    return subkey.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + subkey;
  }

  static bool CreateKey(const std::string& subkey) {
    HKEY key = nullptr;
    if (!OpenForWrite(subkey, &key)) return false;
    RegCloseKey(key);
    return true;
  }

  static bool OpenForWrite(const std::string& subkey, HKEY* key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, Path(subkey).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                           key, nullptr) == ERROR_SUCCESS;
  }

  static bool DeleteValue(const std::string& subkey, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Path(subkey).c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
      return true;  // no key, no value
    const LONG rc = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
  }

  // Number of subkeys of a fixture key, 0 when it is missing, -1 on error.
  static int CountSubkeys(const std::string& subkey) {
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, Path(subkey).c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return 0;
    if (rc != ERROR_SUCCESS) return -1;
    DWORD count = 0;
    const LONG info = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return info == ERROR_SUCCESS ? static_cast<int>(count) : -1;
  }

  // RegDeleteTree is newer than the headers' default target: delete depth first by hand.
  static LONG DeleteTree(HKEY parent, const char* subkey) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(parent, subkey, 0, KEY_READ | KEY_WRITE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    // Each pass removes the first child, so the walk ends when no child is left.
    for (int guard = 0; guard < 100000; ++guard) {
      char name[256];
      DWORD len = sizeof name;
      rc = RegEnumKeyExA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) rc = DeleteTree(key, name);
      if (rc != ERROR_SUCCESS) {
        RegCloseKey(key);
        return rc;
      }
    }
    RegCloseKey(key);
    return RegDeleteKeyA(parent, subkey);
  }
};
