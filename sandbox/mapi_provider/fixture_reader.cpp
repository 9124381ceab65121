#include "fixture_reader.h"

#include <algorithm>
#include <map>

namespace fx {
namespace {

const char kRoot[] = "Software\\Orvella Sandbox\\MAPI";

class Key {
 public:
  explicit Key(const std::string& subkey) {
    std::string path = kRoot;
    if (!subkey.empty()) path += "\\" + subkey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::optional<DWORD> ReadDword(const std::string& subkey, const char* name);
std::optional<std::string> ReadString(const std::string& subkey, const char* name);
std::vector<std::string> ReadSubkeys(const std::string& subkey);

// What a quiet provider has read so far. MAPI callers may use several threads.
struct Memo {
  CRITICAL_SECTION lock;
  std::map<std::string, std::optional<DWORD>> dwords;
  std::map<std::string, std::optional<std::string>> strings;
  std::map<std::string, std::vector<std::string>> subkeys;
  Memo() { InitializeCriticalSection(&lock); }
};

Memo& TheMemo() {
  static Memo memo;
  return memo;
}

// Reads through `read` the first time `where` is asked for, from memory after that.
template <typename Value, typename Read>
Value Remembered(std::map<std::string, Value>& seen, const std::string& where, Read read) {
  Memo& memo = TheMemo();
  EnterCriticalSection(&memo.lock);
  auto found = seen.find(where);
  if (found == seen.end()) found = seen.emplace(where, read()).first;
  Value value = found->second;
  LeaveCriticalSection(&memo.lock);
  return value;
}

std::string Where(const std::string& subkey, const char* name) { return subkey + '\n' + name; }

}  // namespace

bool Quiet() {
  static const bool quiet = ReadDword(std::string(), "Quiet").value_or(0) != 0;
  return quiet;
}

std::optional<DWORD> Dword(const std::string& subkey, const char* name) {
  if (!Quiet()) return ReadDword(subkey, name);
  return Remembered(TheMemo().dwords, Where(subkey, name), [&] { return ReadDword(subkey, name); });
}

std::optional<std::string> String(const std::string& subkey, const char* name) {
  if (!Quiet()) return ReadString(subkey, name);
  return Remembered(TheMemo().strings, Where(subkey, name), [&] { return ReadString(subkey, name); });
}

std::vector<std::string> Subkeys(const std::string& subkey) {
  if (!Quiet()) return ReadSubkeys(subkey);
  return Remembered(TheMemo().subkeys, subkey, [&] { return ReadSubkeys(subkey); });
}

namespace {

std::optional<DWORD> ReadDword(const std::string& subkey, const char* name) {
  Key key(subkey);
  if (!key.get()) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

std::optional<std::string> ReadString(const std::string& subkey, const char* name) {
  Key key(subkey);
  if (!key.get()) return std::nullopt;
  // The value may change between the two queries: retry a few times with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::vector<char> buffer(size + 2, '\0');
    DWORD got = size;
    LONG rc = RegQueryValueExA(key.get(), name, nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return std::nullopt;
    if (got > size) got = size;
    buffer[got] = '\0';  // the stored value need not be terminated
    return std::string(buffer.data());
  }
  return std::nullopt;
}

std::vector<std::string> ReadSubkeys(const std::string& subkey) {
  std::vector<std::string> names;
  Key key(subkey);
  if (!key.get()) return names;
  DWORD count = 0, longest = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return names;
  std::vector<char> name(longest + 2);
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(key.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), len);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

HRESULT StepFailure(const char* name) {
  std::optional<DWORD> value = RootDword(name);
  return value ? static_cast<HRESULT>(*value) : S_OK;
}

bool NullOutput(const char* step) {
  std::optional<std::string> value = RootString("NullOutput");
  return value && *value == step;
}

}  // namespace fx
