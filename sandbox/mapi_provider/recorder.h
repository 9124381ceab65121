// Record of what the provider was asked, and the counters behind the SandboxMapi_* exports.
#pragma once

#include <windows.h>

#include <string>

namespace sbx {

// One lock for the log, the counters and the block list: MAPI callers may use several threads.
class Guard {
 public:
  Guard();
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

void Record(const std::string& line);
// A caller fault (bad free, call on a released object...): recorded and counted.
void RecordMisuse(const std::string& line);

void ObjectCreated();
void ObjectDestroyed();

void InitSucceeded();
void Uninitialized();
bool IsInitialized();

std::string Hex(ULONG value);      // "80040106", "0"
std::string Hex8(ULONG value);     // "3001001e", "00010020"
std::string Quoted(const char* s); // "\"text\"" or null

}  // namespace sbx
