// Shared by the test files that watch help requests: the recording hhctrl.ocx of
// sandbox/hhctrl_recorder, put on the DLL search path before the module's first request (the
// file's .env must start its cases with WINEDLLOVERRIDES hhctrl.ocx=n,b), and what it was asked.
#ifndef ORVL_TESTS_HELP_SUPPORT_H
#define ORVL_TESTS_HELP_SUPPORT_H

#include "sandbox/hhctrl_recorder/hhctrl_recorder.h"

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

// Makes hhctrl.ocx from help-recorder/ or help-noentry/ the one the module's LoadLibraryA finds.
inline void UseHelpControlFrom(const char* folder)
{
    std::string path = OutputFolder() + folder;
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + "\\hhctrl.ocx").c_str()))
        << path << "\\hhctrl.ocx is not built";
    ASSERT_TRUE(SetDllDirectoryA(path.c_str()));
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
