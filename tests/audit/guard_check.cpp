// What a DLL's stack canary does in a live process (tests/audit_test.py, "guard" cases):
//   guard_check fail <dll> <rva>   loads the DLL in a child process and calls the function at the
//                                  RVA (the canary checks' failure function, found by the audit);
//                                  prints "EXIT 0x<code>" and "OUTPUT <n>" (the bytes the child
//                                  wrote to stdout and stderr), then those bytes.
//   guard_check loads <dll>        loads the DLL in this process and prints "LOADED <name>" for
//                                  every DLL the loader brought in meanwhile, then "DONE".
#include "sandbox/common/loader_notifications.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const int MaxLoads = 64;
char LoadedNames[MaxLoads][64];
int LoadCount = 0;

// Every DLL that arrives, even one unloaded again before LoadLibrary returns.
VOID CALLBACK NoteDllLoaded(ULONG reason, const sandbox::LoadedDll* data, PVOID)
{
    if (reason != sandbox::DllNotificationLoaded || !data || !data->baseName || LoadCount >= MaxLoads)
        return;
    sandbox::CopyBaseName(data, LoadedNames[LoadCount], sizeof(LoadedNames[LoadCount]));
    ++LoadCount;
}

int Loads(const char* dll)
{
    sandbox::RegisterDllNotification registerNotification = sandbox::LoaderNotifications();
    PVOID cookie = nullptr;
    if (!registerNotification || registerNotification(0, NoteDllLoaded, nullptr, &cookie) != 0) {
        printf("ERROR no DLL notifications\n");
        return 1;
    }
    HMODULE module = LoadLibraryA(dll);
    if (!module) {
        printf("ERROR LoadLibrary %s: %lu\n", dll, GetLastError());
        return 1;
    }
    for (int i = 0; i < LoadCount; ++i)
        printf("LOADED %s\n", LoadedNames[i]);
    printf("DONE\n");
    fflush(stdout);
    FreeLibrary(module);
    return 0;
}

int FailChild(const char* dll, const char* rva)
{
    HMODULE module = LoadLibraryA(dll);
    if (!module)
        return 2;
    using Failure = void (*)();
    Failure failure = reinterpret_cast<Failure>(reinterpret_cast<UINT_PTR>(module) + strtoul(rva, nullptr, 16));
    failure();
    return 0;  // the failure function returned: the check below sees exit code 0
}

int Fail(const char* self, const char* dll, const char* rva)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        printf("ERROR CreatePipe\n");
        return 1;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    char command[1024];
    _snprintf(command, sizeof command - 1, "\"%s\" child-fail \"%s\" %s", self, dll, rva);
    command[sizeof command - 1] = '\0';
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        printf("ERROR CreateProcess: %lu\n", GetLastError());
        CloseHandle(writeEnd);
        CloseHandle(readEnd);
        return 1;
    }
    CloseHandle(writeEnd);
    // The child's output until it ends (the pipe breaks), bounded by 60 s.
    char output[4096];
    DWORD total = 0;
    DWORD began = GetTickCount();
    for (;;) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr))
            break;
        if (waiting && total < sizeof output) {
            DWORD got = 0;
            if (!ReadFile(readEnd, output + total, sizeof output - total, &got, nullptr))
                break;
            total += got;
        } else if (GetTickCount() - began > 60000) {
            TerminateProcess(child.hProcess, 1);
            printf("ERROR the child did not end within 60 s\n");
            break;
        } else {
            Sleep(20);
        }
    }
    WaitForSingleObject(child.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    printf("EXIT 0x%08lx\nOUTPUT %lu\n", code, total);
    fwrite(output, 1, total, stdout);
    fflush(stdout);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(readEnd);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && !strcmp(argv[1], "fail")) {
        char self[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (!length || length >= MAX_PATH)
            return 1;
        return Fail(self, argv[2], argv[3]);
    }
    if (argc == 4 && !strcmp(argv[1], "child-fail"))
        return FailChild(argv[2], argv[3]);
    if (argc == 3 && !strcmp(argv[1], "loads"))
        return Loads(argv[2]);
    fprintf(stderr, "usage: guard_check fail <dll> <rva> | loads <dll>\n");
    return 1;
}
