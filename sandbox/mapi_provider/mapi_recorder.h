// Reads the sandbox MAPI provider's record from a test or tool running in the same process.
// The provider is loaded by Wine's mapi32.dll; call SandboxMapi::Load() after mapi32 is loaded.
// Header-only. The exports are WINAPI (stdcall), by plain name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct SandboxMapi {
  using ReadLogFn = int(WINAPI*)(char* buffer, int size);
  using VoidFn = void(WINAPI*)();
  using CountFn = int(WINAPI*)();
  using CallCountFn = int(WINAPI*)(const char* name);

  static constexpr const char* kModule = "orvl_mapi_provider.dll";

  // True once the provider is in the process and every recorder export was found.
  static bool Load() {
    HMODULE module = GetModuleHandleA(kModule);
    if (!module) return false;
    bool all = true;
    for (int i = 0; i < kExportCount; ++i) {
      exports()[i] = reinterpret_cast<void*>(GetProcAddress(module, kExportNames[i]));
      all = all && exports()[i];
    }
    return all;
  }

  static bool Loaded() { return Export<ReadLogFn>(kReadLog) != nullptr; }

  // The whole record: one line per call, each ending in "\n".
  static std::string Log() { return Read(kReadLog); }

  // The record with the cursor each call saw on its thread: "wait <line>" when it was the
  // system's wait cursor, "other <line>" otherwise.
  static std::vector<std::string> CursorLines() { return Split(Read(kReadCursorLog)); }

  // The lines of calls made while the calling thread did not show the wait cursor.
  static std::vector<std::string> LinesWithoutWaitCursor() {
    std::vector<std::string> lines;
    for (const std::string& line : CursorLines())
      if (line.compare(0, 6, "other ") == 0) lines.push_back(line.substr(6));
    return lines;
  }

  static std::vector<std::string> Lines() { return Split(Log()); }

  // True when some line of the record is exactly `line`.
  static bool Has(const std::string& line) {
    for (const std::string& l : Lines())
      if (l == line) return true;
    return false;
  }

  static void ResetLog() {
    if (VoidFn reset = Export<VoidFn>(kResetLog)) reset();
  }
  // Provider objects not yet fully released, or -1 before Load().
  static int LiveObjects() { return Count(kLiveObjects); }
  // MAPIAllocateBuffer / MAPIAllocateMore blocks not yet freed, or -1 before Load().
  static int LiveBuffers() { return Count(kLiveBuffers); }
  // Caller faults seen: bad or double MAPIFreeBuffer, calls on released objects, over-release.
  static int Misuses() { return Count(kMisuses); }
  // Successful MAPIInitialize calls not yet matched by MAPIUninitialize.
  static int InitCount() { return Count(kInitCount); }
  // Lines of the current record whose first word is `name`, e.g. "Table.QueryRows".
  static int CallCount(const char* name) {
    const CallCountFn callCount = Export<CallCountFn>(kCallCount);
    return callCount ? callCount(name) : -1;
  }

 private:
  enum ExportIndex {
    kReadLog, kResetLog, kLiveObjects, kLiveBuffers, kMisuses, kInitCount, kCallCount, kReadCursorLog, kExportCount
  };
  static constexpr const char* kExportNames[kExportCount] = {
      "SandboxMapi_ReadLog",  "SandboxMapi_ResetLog",  "SandboxMapi_LiveObjects", "SandboxMapi_LiveBuffers",
      "SandboxMapi_Misuses", "SandboxMapi_InitCount", "SandboxMapi_CallCount",   "SandboxMapi_ReadCursorLog"};

  // One of the text exports, whole.
  static std::string Read(ExportIndex index) {
    const ReadLogFn read = Export<ReadLogFn>(index);
    if (!read) return std::string();
    // The log may grow between the size query and the copy: a few tries, then what fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
      const int size = read(nullptr, 0);
      std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
      const int full = read(buffer.data(), static_cast<int>(buffer.size()));
      if (full <= size || attempt == 3) return std::string(buffer.data());
    }
    return std::string();
  }

  static std::vector<std::string> Split(const std::string& log) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      lines.push_back(log.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  // Filled by Load(); null before.
  static void** exports() {
    static void* found[kExportCount] = {};
    return found;
  }
  template <class F>
  static F Export(ExportIndex index) {
    return reinterpret_cast<F>(exports()[index]);
  }
  static int Count(ExportIndex index) {
    const CountFn count = Export<CountFn>(index);
    return count ? count() : -1;
  }
};
