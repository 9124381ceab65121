// Record lines, one per call, in the order the calls came ("\n" after each line):
//   MAPIInitialize flags=<hex> -> <hr>          MAPIInitialize null -> <hr>
//   MAPIUninitialize
//   MAPIAdminProfiles flags=<hex> -> <hr>
//   MAPILogonEx ui=<hex8> profile="<p>"|null password="<p>"|null flags=<hex> -> <hr>
//   MAPIFreeBuffer | MAPIFreeBuffer null | MAPIFreeBuffer invalid (misuse)
//   MAPIAllocateMore invalid (misuse)
//   FreeProws rows=<n> | FreeProws null        (only when called directly: Wine's mapi32 has its own)
//   ProfAdmin.GetProfileTable flags=<hex> -> <hr>
//   Table.SetColumns tags=<tag>,<tag>... flags=<hex> -> <hr>
//   Table.Restrict prop=<tag> relop=<n> value=<0|1|?> flags=<hex> -> <hr>
//   Table.Restrict null flags=<hex> -> <hr>     Table.Restrict type=<n> flags=<hex> -> <hr>
//   Table.QueryRows count=<n> flags=<hex> -> <hr> rows=<n>
//   Table.GetRowCount flags=<hex> -> <hr> count=<n>
//   Table.SeekRow origin=<n> count=<n> -> <hr>
//   Session.GetMsgStoresTable flags=<hex> -> <hr>
//   Session.QueryIdentity -> <hr>
//   Session.OpenEntry flags=<hex> -> <hr>
//   Session.Logoff ui=<hex> flags=<hex>
//   <Kind>.QueryInterface iid=<IUnknown|IMAPIProp|IMailUser|IMAPITable|IMAPISession|IProfAdmin|{guid}> -> <hr>
//   MailUser.GetProps tags=<tag>,...|null flags=<hex> -> <hr>
//   <Kind>.GetLastError hr=<hex> -> 0
//   <Kind>.<Method> -> 80040102                 any method left unsupported
//   <Kind>.<Method> on released object          (misuse)
//   Release <Kind> refs=<n>                     Release <Kind> on released object (misuse)
// <hr> and flags are lowercase hex without padding, tags 8 lowercase hex digits.
// Beside each line the provider keeps whether the calling thread's cursor was the system's wait
// cursor at that moment (GetCursor reads the calling thread's), read as "wait <line>" or
// "other <line>" through SandboxMapi_ReadCursorLog.
// Kinds: ProfAdmin, Table, Session, MailUser. When the fixture value "LogFile" names a file,
// each line is appended to it as well (CRLF) so that another process can follow a demo run;
// not when the fixture is quiet (fixture_reader.h).

#include "recorder.h"

#include "fixture_reader.h"

#include <cstdio>

namespace sbx {
namespace {

struct State {
  CRITICAL_SECTION lock;
  std::string log;
  std::string cursors;  // one letter per line of the log: 'W' the wait cursor showed, '-' not
  int liveObjects = 0;
  int misuses = 0;
  int initCount = 0;
  State() { InitializeCriticalSection(&lock); }
};

State& S() {
  static State state;
  return state;
}

void AppendToLogFile(const std::string& line) {
  std::optional<std::string> path = fx::RootString("LogFile");
  if (!path || path->empty()) return;
  HANDLE file = CreateFileA(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

Guard::Guard() { EnterCriticalSection(&S().lock); }
Guard::~Guard() { LeaveCriticalSection(&S().lock); }

bool WaitCursorShows() { return GetCursor() == LoadCursor(nullptr, IDC_WAIT); }

void Record(const std::string& line) {
  const bool wait = WaitCursorShows();
  {
    Guard guard;
    S().log += line;
    S().log += '\n';
    S().cursors += wait ? 'W' : '-';
  }
  if (!fx::Quiet()) AppendToLogFile(line);
}

void RecordMisuse(const std::string& line) {
  {
    Guard guard;
    ++S().misuses;
  }
  Record(line);
}

void ObjectCreated() { Guard g; ++S().liveObjects; }
void ObjectDestroyed() { Guard g; --S().liveObjects; }

void InitSucceeded() { Guard g; ++S().initCount; }
void Uninitialized() { Guard g; if (S().initCount > 0) --S().initCount; }
bool IsInitialized() { Guard g; return S().initCount > 0; }

std::string Hex(ULONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", value);
  return text;
}

std::string Hex8(ULONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lx", value);
  return text;
}

std::string Quoted(const char* s) {
  if (!s) return "null";
  std::string out = "\"";
  out += s;
  out += '"';
  return out;
}

int LiveBlockCount();  // mapi_memory.cpp

}  // namespace sbx

extern "C" {

int WINAPI SandboxMapi_ReadLog(char* buffer, int size) {
  sbx::Guard guard;
  const std::string& log = sbx::S().log;
  if (buffer && size > 0) {
    size_t n = log.size() < static_cast<size_t>(size - 1) ? log.size() : static_cast<size_t>(size - 1);
    log.copy(buffer, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(log.size());
}

// The log with the cursor each call saw: every line prefixed "wait " or "other ".
int WINAPI SandboxMapi_ReadCursorLog(char* buffer, int size) {
  sbx::Guard guard;
  const std::string& log = sbx::S().log;
  const std::string& cursors = sbx::S().cursors;
  std::string text;
  size_t start = 0;
  for (size_t line = 0; start < log.size(); ++line) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    text += line < cursors.size() && cursors[line] == 'W' ? "wait " : "other ";
    text.append(log, start, end - start);
    text += '\n';
    start = end + 1;
  }
  if (buffer && size > 0) {
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    text.copy(buffer, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(text.size());
}

void WINAPI SandboxMapi_ResetLog(void) {
  sbx::Guard guard;
  sbx::S().log.clear();
  sbx::S().cursors.clear();
}

int WINAPI SandboxMapi_LiveObjects(void) {
  sbx::Guard guard;
  return sbx::S().liveObjects;
}

int WINAPI SandboxMapi_LiveBuffers(void) { return sbx::LiveBlockCount(); }

// Lines of the current log whose first word is `name` ("Table.QueryRows", "MAPIFreeBuffer").
int WINAPI SandboxMapi_CallCount(const char* name) {
  if (!name || !*name) return 0;
  sbx::Guard guard;
  const std::string& log = sbx::S().log;
  const size_t len = std::char_traits<char>::length(name);
  int count = 0;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    if (end - start >= len && log.compare(start, len, name) == 0 &&
        (end - start == len || log[start + len] == ' '))
      ++count;
    start = end + 1;
  }
  return count;
}

int WINAPI SandboxMapi_Misuses(void) {
  sbx::Guard guard;
  return sbx::S().misuses;
}

int WINAPI SandboxMapi_InitCount(void) {
  sbx::Guard guard;
  return sbx::S().initCount;
}

}  // extern "C"
