// Shared by the test files that watch help requests: the recording hhctrl.ocx of
// sandbox/hhctrl_recorder, handed to the module when it loads the control (the file's .env must
// start its cases with WINEDLLOVERRIDES hhctrl.ocx=n,b), and what it was asked.
#ifndef ORVL_TESTS_HELP_SUPPORT_H
#define ORVL_TESTS_HELP_SUPPORT_H

#include "sandbox/hhctrl_recorder/hhctrl_recorder.h"
#include "tests/rig/rig.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

namespace help_support {

inline std::string FolderOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

inline std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH * 2] = "";
    GetModuleFileNameA(module, path, sizeof(path));
    return path;
}

// The folder of this test program (with its separator), where the build puts OrvlHook.dll too.
inline std::string OutputFolder()
{
    return FolderOf(ModulePath(nullptr));
}

// The folder that the module's requests for hhctrl.ocx are sent to, and every path the module
// asked LoadLibraryA for since.
inline std::string& HelpControlFolder()
{
    static std::string folder;
    return folder;
}
inline std::vector<std::string>& LibraryRequests()
{
    static std::vector<std::string> requests;
    return requests;
}

inline HMODULE WINAPI RedirectingLoadLibrary(LPCSTR path)
{
    std::string asked = path ? path : "";
    LibraryRequests().push_back(asked);
    std::string name = asked.substr(FolderOf(asked).size());
    if (lstrcmpiA(name.c_str(), "hhctrl.ocx") == 0)
        return LoadLibraryA((HelpControlFolder() + "\\hhctrl.ocx").c_str());
    return LoadLibraryA(path);
}

// Makes hhctrl.ocx from help-recorder/ or help-noentry/ the one that `module` (loaded, not yet
// asked for help) gets when it loads the control, whatever path it asks for: the module's
// LoadLibraryA is pointed at RedirectingLoadLibrary, which records the path asked for.
inline void UseHelpControlFrom(HMODULE module, const char* folder)
{
    HelpControlFolder() = OutputFolder() + folder;
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((HelpControlFolder() + "\\hhctrl.ocx").c_str()))
        << HelpControlFolder() << "\\hhctrl.ocx is not built";
    ASSERT_NE(nullptr, rig::ReplaceImport(module, "KERNEL32.dll", "LoadLibraryA",
                                          reinterpret_cast<void*>(RedirectingLoadLibrary)))
        << "the module does not load libraries by ANSI path";
}

// Where the module must ask for the control: the system folder, by full path.
inline std::string SystemHelpControlPath()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof(folder));
    return std::string(folder) + "\\hhctrl.ocx";
}

// The same file, by what the file system says of both names.
inline bool SameFile(const std::wstring& one, const std::string& ansiOther)
{
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    HANDLE files[2] = {
        CreateFileW(one.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        CreateFileA(ansiOther.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    bool same = true;
    for (int i = 0; i < 2; ++i) {
        same = same && files[i] != INVALID_HANDLE_VALUE && GetFileInformationByHandle(files[i], &info[i]);
        if (files[i] != INVALID_HANDLE_VALUE)
            CloseHandle(files[i]);
    }
    return same && info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber
           && info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

template <typename Proc>
inline Proc RecorderExport(const char* name)
{
    HMODULE control = GetModuleHandleA("hhctrl.ocx");
    if (!control)
        return nullptr;
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(control, name)));
}

// What the loaded recorder was asked, in order; empty when no recorder is loaded.
inline std::vector<HhRecorderCall> RecordedCalls()
{
    std::vector<HhRecorderCall> calls;
    auto count = RecorderExport<HhRecorderCallCountProc>("HhRecorder_CallCount");
    auto get = RecorderExport<HhRecorderGetCallProc>("HhRecorder_GetCall");
    if (!count || !get)
        return calls;
    LONG total = count();
    EXPECT_LE(total, HH_RECORDER_MAX_CALLS) << "more calls than the recorder keeps";
    for (LONG i = 0; i < total && i < HH_RECORDER_MAX_CALLS; ++i) {
        HhRecorderCall call;
        if (get(i, &call))
            calls.push_back(call);
    }
    return calls;
}

inline LONG RecordedCallCount()
{
    auto count = RecorderExport<HhRecorderCallCountProc>("HhRecorder_CallCount");
    return count ? count() : 0;
}

} // namespace help_support

#endif
