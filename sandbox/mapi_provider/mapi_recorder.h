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
    Api& a = api();
    HMODULE module = GetModuleHandleA(kModule);
    if (!module) return false;
    a.readLog = reinterpret_cast<ReadLogFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_ReadLog")));
    a.resetLog = reinterpret_cast<VoidFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_ResetLog")));
    a.liveObjects = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_LiveObjects")));
    a.liveBuffers = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_LiveBuffers")));
    a.misuses = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_Misuses")));
    a.initCount = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_InitCount")));
    a.callCount = reinterpret_cast<CallCountFn>(reinterpret_cast<void*>(GetProcAddress(module, "SandboxMapi_CallCount")));
    return a.readLog && a.resetLog && a.liveObjects && a.liveBuffers && a.misuses && a.initCount && a.callCount;
  }

  static bool Loaded() { return api().readLog != nullptr; }

  // The whole record: one line per call, each ending in "\n".
  static std::string Log() {
    Api& a = api();
    if (!a.readLog) return std::string();
    // The log may grow between the size query and the copy: a few tries, then what fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
      const int size = a.readLog(nullptr, 0);
      std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
      const int full = a.readLog(buffer.data(), static_cast<int>(buffer.size()));
      if (full <= size || attempt == 3) return std::string(buffer.data());
    }
    return std::string();
  }

  static std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    const std::string log = Log();
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      lines.push_back(log.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  // True when some line of the record is exactly `line`.
  static bool Has(const std::string& line) {
    for (const std::string& l : Lines())
      if (l == line) return true;
    return false;
  }

  static void ResetLog() {
    if (api().resetLog) api().resetLog();
  }
  // Provider objects not yet fully released, or -1 before Load().
  static int LiveObjects() { return api().liveObjects ? api().liveObjects() : -1; }
  // MAPIAllocateBuffer / MAPIAllocateMore blocks not yet freed, or -1 before Load().
  static int LiveBuffers() { return api().liveBuffers ? api().liveBuffers() : -1; }
  // Caller faults seen: bad or double MAPIFreeBuffer, calls on released objects, over-release.
  static int Misuses() { return api().misuses ? api().misuses() : -1; }
  // Successful MAPIInitialize calls not yet matched by MAPIUninitialize.
  static int InitCount() { return api().initCount ? api().initCount() : -1; }
  // Lines of the current record whose first word is `name`, e.g. "Table.QueryRows".
  static int CallCount(const char* name) { return api().callCount ? api().callCount(name) : -1; }

 private:
  struct Api {
    ReadLogFn readLog = nullptr;
    VoidFn resetLog = nullptr;
    CountFn liveObjects = nullptr;
    CountFn liveBuffers = nullptr;
    CountFn misuses = nullptr;
    CountFn initCount = nullptr;
    CallCountFn callCount = nullptr;
  };
  static Api& api() {
    static Api a;
    return a;
  }
};
