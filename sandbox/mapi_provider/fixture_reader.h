// Reads the fixture under HKCU\Software\Orvella Sandbox\MAPI. Every call opens the keys afresh,
// so a test may change the fixture between two calls on the same object; unless the root value
// "Quiet" is non-zero when the provider first looks (see Quiet below).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace fx {

// A subkey path below the fixture root, e.g. "Profiles\\001\\Stores".
std::optional<DWORD> Dword(const std::string& subkey, const char* name);
std::optional<std::string> String(const std::string& subkey, const char* name);
// Subkey names sorted by name.
std::vector<std::string> Subkeys(const std::string& subkey);

inline std::optional<DWORD> RootDword(const char* name) { return Dword(std::string(), name); }
inline std::optional<std::string> RootString(const char* name) { return String(std::string(), name); }

// The HRESULT a step is told to fail with, or S_OK.
HRESULT StepFailure(const char* name);
// True when the step is told to answer S_OK yet hand back no object ("NullOutput").
bool NullOutput(const char* step);

// Read once per process, at the provider's first call: with "Quiet" set, each value and key list is read from the registry
// the first time it is asked for and served from memory after that, and no log file is written.
// For benchmarks, which must not time the stand-in's own registry and file work.
bool Quiet();

}  // namespace fx
