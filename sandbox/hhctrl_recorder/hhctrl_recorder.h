// Stand-in for the HTML Help control (hhctrl.ocx) that records what it is asked.
//
// Two builds of the same source, each named hhctrl.ocx in a folder of its own:
//   help-recorder/hhctrl.ocx  HtmlHelpA at ordinal 14 only (no name), as the module asks for it;
//   help-noentry/hhctrl.ocx   no ordinal 14; HtmlHelpA is exported by name (ordinal 15) so that
//                             a caller looking it up by name is caught in the record.
// Wine loads either only with WINEDLLOVERRIDES="hhctrl.ocx=n,b" in its Unix environment and the
// folder on the DLL search path (e.g. SetDllDirectoryA).
//
// Answers like the viewer: HH_INITIALIZE writes a non-zero cookie into *(DWORD*)data and returns
// 0; HH_DISPLAY_TOPIC shows the address in a small window of class HhRecorderWindowClass and
// returns that window; HH_PRETRANSLATEMESSAGE keeps a copy of the message and takes it (returns
// non-zero) only when it is a WM_KEYDOWN of the key named by ORVL_HHCTRL_TAKE_KEY; every other
// command returns 0.
//
// Process-wide switches and counters live in environment variables, so they outlast an unload:
//   ORVL_HHCTRL_REFUSE_LOAD=1   process attach fails (LoadLibrary returns null)
//   ORVL_HHCTRL_LOADS           number of process attaches that succeeded
//   ORVL_HHCTRL_REFUSED         number of process attaches refused
//   ORVL_HHCTRL_TAKE_KEY=<vk>   the virtual key whose WM_KEYDOWN HH_PRETRANSLATEMESSAGE takes
#ifndef ORVL_SANDBOX_HHCTRL_RECORDER_H
#define ORVL_SANDBOX_HHCTRL_RECORDER_H

#include <windows.h>

#define HH_RECORDER_REFUSE_VARIABLE  "ORVL_HHCTRL_REFUSE_LOAD"
#define HH_RECORDER_LOADS_VARIABLE   "ORVL_HHCTRL_LOADS"
#define HH_RECORDER_REFUSED_VARIABLE "ORVL_HHCTRL_REFUSED"
#define HH_RECORDER_TAKE_KEY_VARIABLE "ORVL_HHCTRL_TAKE_KEY"

#define HH_RECORDER_COOKIE           0x4F52564Cu   // written by HH_INITIALIZE
#define HH_RECORDER_TEXT_CAPACITY    1024
#define HH_RECORDER_MAX_CALLS        64

const char HhRecorderWindowClass[] = "Orvella Help Recorder";

struct HhRecorderCall {
    HWND caller;
    LPCSTR fileAddress;                   // the pointer as passed (null or not)
    char file[HH_RECORDER_TEXT_CAPACITY]; // its text, cut to fit; empty when null
    UINT command;
    DWORD_PTR data;
    DWORD threadId;
    HWND result;
    MSG message;                          // HH_PRETRANSLATEMESSAGE: the message offered
};

// Exports by plain name (stdcall):
typedef LONG (WINAPI* HhRecorderCallCountProc)();                            // "HhRecorder_CallCount"
typedef BOOL (WINAPI* HhRecorderGetCallProc)(LONG index, HhRecorderCall*);   // "HhRecorder_GetCall"
typedef LONG (WINAPI* HhRecorderLoadCountProc)();                            // "HhRecorder_LoadCount"
typedef HWND (WINAPI* HhRecorderTopicWindowProc)();                          // "HhRecorder_TopicWindow"
typedef BOOL (WINAPI* HhRecorderHasEntryProc)();                             // "HhRecorder_HasEntry"

#endif
