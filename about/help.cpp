// Topics of Orvella.chm in the HTML Help viewer. The viewer's control is loaded on the first
// request, not linked, so that Messenger starts even where HTML Help is not installed.
#include "about/help.h"
#include "host/module.h"
#include "res/resource.h"

namespace {

typedef HWND (WINAPI* HtmlHelpProc)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

const char HelpControlName[] = "hhctrl.ocx";
const WORD HtmlHelpOrdinal = 14;        // HtmlHelpA
const UINT HelpDisplayTopic = 0x0000;   // HH_DISPLAY_TOPIC
const UINT HelpInitialize = 0x001C;     // HH_INITIALIZE

const int HelpNameCapacity = 30;
const int HelpPathCapacity = MAX_PATH;
const int ModuleNameRoom = 269;         // read limit; the buffer leaves room past it
const int TopicAddressCapacity = 532;

// Set once and kept: the control is never unloaded and the path never changes, because the
// language is fixed while the module is loaded.
HMODULE HelpControl = nullptr;
HtmlHelpProc HtmlHelpEntry = nullptr;
char HelpFileName[HelpNameCapacity];
char HelpTopicFolder[HelpNameCapacity];
char HelpFilePath[HelpPathCapacity];
DWORD HelpCookie = 0;

// The module's own directory with its trailing separator, then the help file name, in
// HelpFilePath. False when the name cannot be read whole or the result would not fit.
bool MakeHelpFilePath()
{
    char moduleName[ModuleNameRoom + 3] = "";
    DWORD length = GetModuleFileNameA(ModuleInstance, moduleName, ModuleNameRoom);
    if (length == 0 || length >= static_cast<DWORD>(ModuleNameRoom))
        return false;  // a cut name has no trustworthy directory
    moduleName[length] = '\0';

    // Keep everything up to the last separator; a bare file name leaves nothing.
    int end = static_cast<int>(length);
    while (end > 0 && moduleName[end - 1] != '\\' && moduleName[end - 1] != '/')
        moduleName[--end] = '\0';

    int nameLength = lstrlenA(HelpFileName);
    if (end + nameLength >= HelpPathCapacity)
        return false;
    lstrcpynA(HelpFilePath, moduleName, HelpPathCapacity);
    lstrcpynA(HelpFilePath + end, HelpFileName, HelpPathCapacity - end);
    return true;
}

} // namespace

int InitHelp()
{
    if (HelpControl && HtmlHelpEntry)
        return 1;

    LoadStringA(ModuleInstance, LocalizedId(IDS_HELP_FILE_NAME), HelpFileName, HelpNameCapacity);
    LoadStringA(ModuleInstance, LocalizedId(IDS_HELP_TOPIC_FOLDER), HelpTopicFolder, HelpNameCapacity);

    if (!HelpControl) {
        HelpControl = LoadLibraryA(HelpControlName);
        if (!HelpControl)
            return 0;  // tried again on the next request
    }

    // The entry point is kept only once the path is made too, so that a failed set-up is
    // repeated from here on the next request instead of counting as ready.
    // From FARPROC through the generic function type void (*)(): a function pointer stays a
    // function pointer (no void*), and GCC's -Wcast-function-type accepts that type either way.
    HtmlHelpProc entry = reinterpret_cast<HtmlHelpProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(HelpControl, MAKEINTRESOURCEA(HtmlHelpOrdinal))));
    if (!entry)
        return 0;
    if (!MakeHelpFilePath())
        return 0;
    HtmlHelpEntry = entry;

    HtmlHelpEntry(nullptr, nullptr, HelpInitialize, reinterpret_cast<DWORD_PTR>(&HelpCookie));
    return 1;
}

HWND OpenHelpTopic(HWND owner, const char* topic)
{
    if (!InitHelp())
        return nullptr;
    if (!topic)
        return nullptr;

    // "<path>::/<folder>/<topic>"; an address that would not fit is not shown cut short.
    char address[TopicAddressCapacity];
    int needed = lstrlenA(HelpFilePath) + lstrlenA(HelpTopicFolder) + lstrlenA(topic) + 5;
    if (needed > TopicAddressCapacity)
        return nullptr;
    wsprintfA(address, "%s::/%s/%s", HelpFilePath, HelpTopicFolder, topic);

    return HtmlHelpEntry(owner, address, HelpDisplayTopic, 0);
}
