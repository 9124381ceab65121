// Help topics, driven as Messenger and the user drive them: the "Help..." command (132) sent to
// Messenger's window after injection, and the settings sheet's Help button.
//
// Most cases hand the module the recording hhctrl.ocx of sandbox/hhctrl_recorder whatever path
// it asks for (help_support.h); Wine takes it over its own control because
// tests/help_test.env starts every case with WINEDLLOVERRIDES hhctrl.ocx=n,b. The others get
// Wine's own viewer.
#include "tests/rig/rig.h"
#include "tests/help_support.h"
#include "sandbox/hhctrl_recorder/hhctrl_recorder.h"
#include "sandbox/messenger/messenger_window.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace help_support;

const UINT HelpCommand = 132;
const UINT SettingsCommand = 1101;
const UINT HhDisplayTopic = 0x0000;
const UINT HhInitialize = 0x001C;
const char HelpControl[] = "hhctrl.ocx";

LONG Counter(const char* variable)
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA(variable, text, sizeof(text));
    if (length == 0 || length >= sizeof(text))
        return 0;
    return atol(text);
}

bool InsideModule(HMODULE module, DWORD_PTR address)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    DWORD_PTR start = reinterpret_cast<DWORD_PTR>(base);
    return address >= start && address < start + nt->OptionalHeader.SizeOfImage;
}

std::string Describe(const HhRecorderCall& call)
{
    char line[HH_RECORDER_TEXT_CAPACITY + 100];
    wsprintfA(line, "caller=%p command=%u data=%08lx file=%s%s%s", static_cast<void*>(call.caller), call.command,
              static_cast<unsigned long>(call.data), call.fileAddress ? "\"" : "null", call.file,
              call.fileAddress ? "\"" : "");
    return line;
}

std::string Describe(const std::vector<HhRecorderCall>& calls)
{
    std::string text;
    for (const HhRecorderCall& call : calls)
        text += Describe(call) + "\n";
    return text.empty() ? "(no calls)\n" : text;
}

// HH_INITIALIZE as the module must send it: no window, no file, the address of a cookie that
// lives in the module's own data and that the control filled in, on Messenger's thread.
void ExpectInitialize(const HhRecorderCall& call, HMODULE module)
{
    EXPECT_EQ(HhInitialize, call.command) << Describe(call);
    EXPECT_EQ(nullptr, call.caller) << Describe(call);
    EXPECT_EQ(nullptr, call.fileAddress) << Describe(call);
    ASSERT_NE(0u, call.data) << Describe(call);
    EXPECT_TRUE(InsideModule(module, call.data)) << "the cookie is not module-wide state: " << Describe(call);
    EXPECT_EQ(HH_RECORDER_COOKIE, *reinterpret_cast<const DWORD*>(call.data));
    EXPECT_EQ(GetCurrentThreadId(), call.threadId);
}

void ExpectDisplay(const HhRecorderCall& call, HWND caller, const std::string& address)
{
    EXPECT_EQ(HhDisplayTopic, call.command) << Describe(call);
    EXPECT_EQ(caller, call.caller) << Describe(call);
    EXPECT_NE(nullptr, call.fileAddress) << Describe(call);
    EXPECT_EQ(address, call.file);
    EXPECT_EQ(0u, call.data) << Describe(call);
}

// Messenger with the module injected, as the add-in host leaves it; with a help control's
// folder, the module gets the control from there.
HWND StartMessenger(rig::Language language, const char* helpControlFolder = nullptr)
{
    HMODULE module = rig::LoadModule(language);
    EXPECT_NE(nullptr, module);
    if (module && helpControlFolder)
        UseHelpControlFrom(module, helpControlFolder);
    HWND messenger = rig::CreateMessenger();
    EXPECT_TRUE(rig::InjectAsHost());
    EXPECT_EQ(1, rig::CountProductPopups(GetMenu(messenger)));
    return messenger;
}

// The user picks "Help..." in the "Orvella" popup.
void ChooseHelp(HWND messenger)
{
    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(HelpCommand, 0), 0));
    rig::Pump(20);
}

std::string HelpFileBeside(HMODULE module)
{
    return FolderOf(ModulePath(module)) + "Orvella.chm";
}

// True when the module holds exactly one reference to the control: one FreeLibrary unloads it.
// Ends the test's use of the control (the module's entry point is left dangling).
bool ControlReleasedByOneFree()
{
    HMODULE control = GetModuleHandleA(HelpControl);
    if (!control || !FreeLibrary(control))
        return false;
    return GetModuleHandleA(HelpControl) == nullptr;
}

} // namespace

// ---- The help command with the recording control ------------------------------------------

TEST(HelpRecorder, FirstRequestLoadsControlInitialisesAndShowsIntro)
{
    HWND messenger = StartMessenger(rig::Language::English, "help-recorder");
    EXPECT_EQ(nullptr, GetModuleHandleA(HelpControl)) << "the control is loaded before anyone asks for help";

    ChooseHelp(messenger);

    HMODULE control = GetModuleHandleA(HelpControl);
    ASSERT_NE(nullptr, control) << "hhctrl.ocx was not loaded";
    EXPECT_EQ(OutputFolder() + "help-recorder\\hhctrl.ocx", ModulePath(control));
    // By its full path in the system folder: by its bare name, the current folder is searched too.
    EXPECT_EQ(std::vector<std::string>{SystemHelpControlPath()}, LibraryRequests());
    EXPECT_EQ(1, Counter(HH_RECORDER_LOADS_VARIABLE));
    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(2u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], rig::Module());
    ExpectDisplay(calls[1], messenger, HelpFileBeside(rig::Module()) + "::/htmls/Intro.htm");
    // The command is the module's: Messenger's own procedure never sees it.
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
}

TEST(HelpRecorder, HelpCommandWithAnyNotificationCodeShowsIntro)
{
    HWND messenger = StartMessenger(rig::Language::English, "help-recorder");

    // An accelerator sends the command with notification code 1.
    EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(HelpCommand, 1), 0));

    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(2u, calls.size()) << Describe(calls);
    ExpectDisplay(calls[1], messenger, HelpFileBeside(rig::Module()) + "::/htmls/Intro.htm");
}

namespace {

// Each language: the settings sheet's caption (the Russian sheet is the only dialog, found
// without its caption, whose Cyrillic text depends on the ANSI code page the case runs under) and
// the folder of its topics inside the one help file.
struct HelpLanguage {
    rig::Language language;
    const char* sheetCaption;
    const char* folder;
};

void PrintTo(const HelpLanguage& row, std::ostream* out)
{
    *out << row.folder;
}

class HelpRecorderTopic : public testing::TestWithParam<HelpLanguage> {};

} // namespace

TEST_P(HelpRecorderTopic, SecondRequestOnlyShowsTheTopicAgain)
{
    HWND messenger = StartMessenger(GetParam().language, "help-recorder");

    ChooseHelp(messenger);
    ChooseHelp(messenger);

    std::string address = HelpFileBeside(rig::Module()) + "::/" + GetParam().folder + "/Intro.htm";
    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(3u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], rig::Module());
    ExpectDisplay(calls[1], messenger, address);
    ExpectDisplay(calls[2], messenger, address);
    EXPECT_EQ(1, Counter(HH_RECORDER_LOADS_VARIABLE));
    EXPECT_TRUE(ControlReleasedByOneFree()) << "the module loaded the control more than once";
}

// The Russian topics come from the Russian folder of the same file.
INSTANTIATE_TEST_SUITE_P(Languages, HelpRecorderTopic,
                         testing::Values(HelpLanguage{rig::Language::English, "Orvella Settings", "htmls"},
                                         HelpLanguage{rig::Language::Russian, nullptr, "htmls_r"}));

// ---- The control missing, or without its entry point ---------------------------------------

TEST(HelpRecorderMissing, EveryRequestTriesToLoadTheControlAgain)
{
    ASSERT_TRUE(SetEnvironmentVariableA(HH_RECORDER_REFUSE_VARIABLE, "1"));
    HWND messenger = StartMessenger(rig::Language::English, "help-recorder");

    for (int request = 1; request <= 3; ++request) {
        ChooseHelp(messenger);
        EXPECT_EQ(request, Counter(HH_RECORDER_REFUSED_VARIABLE)) << "request " << request << " did not try to load";
        EXPECT_EQ(nullptr, GetModuleHandleA(HelpControl)) << "some hhctrl.ocx was loaded after all";
    }
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);

    // Once the control can be loaded, the next request sets help up from the start.
    ASSERT_TRUE(SetEnvironmentVariableA(HH_RECORDER_REFUSE_VARIABLE, nullptr));
    ChooseHelp(messenger);
    EXPECT_EQ(1, Counter(HH_RECORDER_LOADS_VARIABLE));
    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(2u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], rig::Module());
    ExpectDisplay(calls[1], messenger, HelpFileBeside(rig::Module()) + "::/htmls/Intro.htm");
}

TEST(HelpRecorderNoEntry, NothingIsShownAndTheControlIsLoadedOnlyOnce)
{
    HWND messenger = StartMessenger(rig::Language::English, "help-noentry");

    ChooseHelp(messenger);
    HMODULE control = GetModuleHandleA(HelpControl);
    ASSERT_NE(nullptr, control) << "hhctrl.ocx was not loaded";
    auto hasEntry = RecorderExport<HhRecorderHasEntryProc>("HhRecorder_HasEntry");
    ASSERT_NE(nullptr, hasEntry);
    ASSERT_FALSE(hasEntry()) << "the control with ordinal 14 was loaded instead";

    ChooseHelp(messenger);
    ChooseHelp(messenger);

    // Its HtmlHelpA is exported by name only: a caller that looks it up by name shows up here.
    EXPECT_EQ(0, RecordedCallCount()) << Describe(RecordedCalls());
    EXPECT_EQ(1, Counter(HH_RECORDER_LOADS_VARIABLE));
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
    EXPECT_TRUE(ControlReleasedByOneFree()) << "the module loaded the control more than once";
}

// ---- A module folder near the path limit and past it ----------------------------------------

namespace {

// A copy of OrvlHook.dll, named o.dll so that it still loads, and of Orvella.chm, in a new folder
// whose path (with its separator) followed by "Orvella.chm" is helpFilePathLength characters long,
// made of folders of at most `segment` characters.
std::string CopyModuleForHelpPath(int helpFilePathLength, int segment = 100)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof(temp), temp);
    char unique[64];
    wsprintfA(unique, "orvl-help-%lu-%lu\\", GetCurrentProcessId(), GetTickCount());
    std::string folder = std::string(temp) + unique;
    int wanted = helpFilePathLength - lstrlenA("Orvella.chm");
    EXPECT_LT(static_cast<int>(folder.size()) + 2, wanted);
    CreateDirectoryW((L"\\\\?\\" + rig::Wide(folder)).c_str(), nullptr);
    while (static_cast<int>(folder.size()) < wanted) {
        int left = wanted - static_cast<int>(folder.size());
        int name = left - 1 > segment ? segment : left - 1;
        if (left - (name + 1) == 1)
            --name;  // never leave room for a separator alone
        folder += std::string(static_cast<size_t>(name), 'd') + "\\";
        EXPECT_TRUE(CreateDirectoryW((L"\\\\?\\" + rig::Wide(folder)).c_str(), nullptr)) << folder;
    }
    EXPECT_EQ(wanted, static_cast<int>(folder.size()));
    for (const char* file : {"o.dll", "Orvella.chm"}) {
        std::string original = OutputFolder() + (file[0] == 'o' ? "OrvlHook.dll" : file);
        EXPECT_TRUE(CopyFileW((L"\\\\?\\" + rig::Wide(original)).c_str(),
                              (L"\\\\?\\" + rig::Wide(folder + file)).c_str(), FALSE))
            << folder << file;
    }
    return folder + "o.dll";
}

// Loads the copy by its wide path, as the host does, injects it into Messenger as the host would,
// then has Windows refuse the module one call of KERNEL32 (when named), and returns Messenger's
// window.
HWND StartMessengerWithCopy(const std::string& copy, const char* refused, int arguments, HMODULE* module)
{
    rig::SetSettingDword("Lang", 0);
    *module = LoadLibraryW(rig::Wide(copy).c_str());
    EXPECT_NE(nullptr, *module) << copy << " did not load, error " << GetLastError();
    if (!*module)
        return nullptr;
    UseHelpControlFrom(*module, "help-recorder");
    HWND messenger = rig::CreateMessenger();
    EXPECT_TRUE(sandbox::HandshakeInProcess(*module)) << "the copy did not answer the handshake";
    EXPECT_EQ(1, rig::CountProductPopups(GetMenu(messenger)));
    if (refused) {
        EXPECT_NE(nullptr, rig::RefuseImport(*module, "KERNEL32.dll", refused, arguments)) << refused;
    }
    return messenger;
}

// The viewer takes an ANSI path of at most MAX_PATH - 1 characters: a longer one is given as its
// short form, which names the same file. Where there is no short form, or none short enough, or
// Windows refuses a call that help is set up with, help opens nothing rather than a path cut short.
struct HelpDepth {
    int helpFilePathLength;
    int segment;          // the longest folder name on the way
    const char* refused;  // a KERNEL32 function Windows refuses once the module is in, or null
    int arguments;
    bool shown, shortPathGiven;
};

void PrintTo(const HelpDepth& row, std::ostream* out)
{
    *out << row.helpFilePathLength << " " << (row.refused ? row.refused : "");
}

class HelpRecorderDepth : public testing::TestWithParam<HelpDepth> {};

} // namespace

TEST_P(HelpRecorderDepth, HelpFileIsNamedWithinThePathLimit)
{
    const HelpDepth& row = GetParam();
    std::string copy = CopyModuleForHelpPath(row.helpFilePathLength, row.segment);
    HMODULE module = nullptr;
    HWND messenger = StartMessengerWithCopy(copy, row.refused, row.arguments, &module);
    ASSERT_NE(nullptr, messenger);

    ChooseHelp(messenger);
    ChooseHelp(messenger);

    std::vector<HhRecorderCall> calls = RecordedCalls();
    if (!row.shown) {
        EXPECT_EQ(0u, calls.size()) << Describe(calls);
        return;
    }
    ASSERT_EQ(3u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], module);
    const std::string topic = "::/htmls/Intro.htm";
    std::string address = calls[1].file;
    ASSERT_GT(address.size(), topic.size()) << address;
    std::string helpFile = address.substr(0, address.size() - topic.size());
    std::string longHelpFile = FolderOf(copy) + "Orvella.chm";
    ExpectDisplay(calls[1], messenger, helpFile + topic);
    ExpectDisplay(calls[2], messenger, helpFile + topic);
    EXPECT_LT(helpFile.size(), static_cast<size_t>(MAX_PATH)) << helpFile;
    EXPECT_EQ(row.shortPathGiven, helpFile != longHelpFile) << helpFile;
    EXPECT_TRUE(SameFile(L"\\\\?\\" + rig::Wide(longHelpFile), helpFile)) << helpFile;
}

INSTANTIATE_TEST_SUITE_P(Lengths, HelpRecorderDepth,
                         testing::Values(HelpDepth{MAX_PATH - 1, 100, nullptr, 0, true, false},
                                         HelpDepth{MAX_PATH, 100, nullptr, 0, true, true},
                                         HelpDepth{311, 100, nullptr, 0, true, true},
                                         HelpDepth{311, 100, "GetShortPathNameW", 3, false, false},
                                         HelpDepth{311, 8, nullptr, 0, false, false},
                                         HelpDepth{MAX_PATH - 1, 100, "GetSystemDirectoryA", 2, false, false},
                                         HelpDepth{MAX_PATH - 1, 100, "GetModuleFileNameW", 3, false, false}));

// ---- The settings sheet's Help button -------------------------------------------------------

namespace {

// Opens the settings sheet from the menu, presses its Help button, waits until the help control
// has been called `calls` times in all, and closes the sheet with Cancel. Returns the page window
// that was current when Help was pressed. caption may be null.
HWND PressHelpInSettingsSheet(HWND messenger, const char* caption, int calls)
{
    HWND page = nullptr;
    rig::RunModal(
        [&] { SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(SettingsCommand, 0), 0); },
        [&](rig::ModalScript& script) {
            HWND sheet = script.WaitForWindow("#32770", caption);
            if (!sheet)
                return;
            page = script.CurrentPage(sheet);
            EXPECT_NE(nullptr, page);
            script.PressSheetButton(sheet, PSBTN_HELP);
            rig::WaitUntil([&] { return RecordedCallCount() >= calls; }, 8000);
            EXPECT_EQ(calls, RecordedCallCount()) << "the Help button reached no help topic";
            script.PressSheetButton(sheet, PSBTN_CANCEL);
            script.WaitForClose(sheet);
        });
    return page;
}

class HelpRecorderSettingsTopic : public testing::TestWithParam<HelpLanguage> {};

} // namespace

TEST_P(HelpRecorderSettingsTopic, HelpButtonShowsInterfaceTopicOverThePage)
{
    HWND messenger = StartMessenger(GetParam().language, "help-recorder");

    HWND page = PressHelpInSettingsSheet(messenger, GetParam().sheetCaption, 2);

    ASSERT_NE(nullptr, page);
    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(2u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], rig::Module());
    ExpectDisplay(calls[1], page, HelpFileBeside(rig::Module()) + "::/" + GetParam().folder + "/Interface.htm");
}

INSTANTIATE_TEST_SUITE_P(Languages, HelpRecorderSettingsTopic,
                         testing::Values(HelpLanguage{rig::Language::English, "Orvella Settings", "htmls"},
                                         HelpLanguage{rig::Language::Russian, nullptr, "htmls_r"}));

TEST(HelpRecorderSettings, MenuAndSheetShareOneSetUp)
{
    HWND messenger = StartMessenger(rig::Language::English, "help-recorder");
    ChooseHelp(messenger);
    ASSERT_EQ(2, RecordedCallCount());

    HWND page = PressHelpInSettingsSheet(messenger, "Orvella Settings", 3);

    std::vector<HhRecorderCall> calls = RecordedCalls();
    ASSERT_EQ(3u, calls.size()) << Describe(calls);
    ExpectInitialize(calls[0], rig::Module());
    ExpectDisplay(calls[1], messenger, HelpFileBeside(rig::Module()) + "::/htmls/Intro.htm");
    ExpectDisplay(calls[2], page, HelpFileBeside(rig::Module()) + "::/htmls/Interface.htm");
    EXPECT_EQ(1, Counter(HH_RECORDER_LOADS_VARIABLE));
}

// ---- Keys on Messenger's thread --------------------------------------------------------------

namespace {

const UINT HhPretranslateMessage = 0x00FD;
const WPARAM TakenKey = VK_F7;

// The viewer runs on Messenger's thread, whose loop never offers it a message: the module offers
// it every keyboard message the thread removes from its queue, once help is set up, and a key the
// viewer takes never reaches the window it was meant for. Each row posts its message and then an
// F6 key to Messenger's window, looks at the queue once and then pumps it: first before any help
// request, then after one.
struct KeyRoute {
    UINT message;
    WPARAM key;
    bool offered;   // the viewer is offered the row's message (then the F6 key in any case)
    LONG keyDowns;  // WM_KEYDOWN that reach Messenger's procedure after help opened
};

void PrintTo(const KeyRoute& row, std::ostream* out) { *out << "message " << row.message << " key " << row.key; }
class HelpRecorderKeys : public testing::TestWithParam<KeyRoute> {};

void PostThenPump(HWND messenger, UINT message, WPARAM key)
{
    sandbox::ResetMessengerStats();
    EXPECT_TRUE(PostMessageA(messenger, message, key, 0));
    EXPECT_TRUE(PostMessageA(messenger, WM_KEYDOWN, VK_F6, 0));
    MSG peeked;
    EXPECT_TRUE(PeekMessageA(&peeked, messenger, 0, 0, PM_NOREMOVE));  // looked at, left in the queue
    rig::Pump(20);
}

} // namespace

TEST_P(HelpRecorderKeys, KeyboardMessagesReachTheViewerOnlyOnceHelpIsSetUp)
{
    const KeyRoute& row = GetParam();
    ASSERT_TRUE(SetEnvironmentVariableA(HH_RECORDER_TAKE_KEY_VARIABLE, std::to_string(TakenKey).c_str()));
    HWND messenger = StartMessenger(rig::Language::English, "help-recorder");

    PostThenPump(messenger, row.message, row.key);
    EXPECT_EQ(nullptr, GetModuleHandleA(HelpControl)) << "a key loaded the help control";
    EXPECT_TRUE(LibraryRequests().empty());
    EXPECT_EQ(row.message == WM_KEYDOWN ? 2 : 1, sandbox::GetMessengerStats().keyDowns);

    ChooseHelp(messenger);
    PostThenPump(messenger, row.message, row.key);
    std::string offered, expected = row.offered ? std::to_string(row.message) + ":" + std::to_string(row.key) + " " : "";
    expected += std::to_string(WM_KEYDOWN) + ":" + std::to_string(VK_F6) + " ";
    for (const HhRecorderCall& call : RecordedCalls())
        if (call.command == HhPretranslateMessage)
            offered += std::to_string(call.message.message) + ":" + std::to_string(call.message.wParam) + " ";
    EXPECT_EQ(expected, offered) << "message:key as offered to the viewer";
    EXPECT_EQ(row.keyDowns, sandbox::GetMessengerStats().keyDowns);
}

INSTANTIATE_TEST_SUITE_P(Messages, HelpRecorderKeys,
                         testing::Values(KeyRoute{WM_KEYDOWN, VK_F6, true, 2}, KeyRoute{WM_KEYDOWN, TakenKey, true, 1},
                                         KeyRoute{WM_CHAR, 'a', true, 1}, KeyRoute{WM_MOUSEMOVE, 0, false, 1},
                                         KeyRoute{WM_APP + 7, 0, false, 1}));

// ---- Wine's own viewer ----------------------------------------------------------------------

namespace {

struct ViewerSearch {
    HWND found;
    int count;
};

BOOL CALLBACK FindViewer(HWND window, LPARAM lParam)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && rig::ClassName(window) == "HH Parent") {
        ViewerSearch* search = reinterpret_cast<ViewerSearch*>(lParam);
        search->found = window;
        ++search->count;
    }
    return TRUE;
}

ViewerSearch ViewerWindows()
{
    ViewerSearch search{nullptr, 0};
    EnumWindows(FindViewer, reinterpret_cast<LPARAM>(&search));
    return search;
}

} // namespace

// Wine's control raises and handles exceptions while it opens the page (there is no HTML engine
// here). Under the emulator that runs 32-bit Wine on this machine, a second thread alive at that
// moment brings the process down, so the requests are not given a watchdog thread: a request
// that never returned is cut off by the runner's time limit for the case.
TEST(HelpWineViewer, HelpCommandOpensTheViewerOnOurFileAndItCloses)
{
    // No recorder on the search path: Wine's own control answers.
    HWND messenger = StartMessenger(rig::Language::English);

    ChooseHelp(messenger);

    HMODULE control = GetModuleHandleA(HelpControl);
    ASSERT_NE(nullptr, control) << "hhctrl.ocx was not loaded";
    std::string controlPath = ModulePath(control);
    CharLowerA(&controlPath[0]);
    EXPECT_NE(std::string::npos, controlPath.find("\\system32\\hhctrl.ocx")) << controlPath;
    ASSERT_TRUE(rig::WaitUntil([] { return ViewerWindows().found != nullptr; }, 15000))
        << "no \"HH Parent\" window appeared";
    HWND viewer = ViewerWindows().found;
    // The viewer takes its caption from the file it opened.
    EXPECT_EQ("Orvella", rig::WindowText(viewer));

    ChooseHelp(messenger);
    rig::Pump(200);
    EXPECT_EQ(1, ViewerWindows().count) << "a second request opened a second viewer";

    PostMessageA(viewer, WM_CLOSE, 0, 0);
    EXPECT_TRUE(rig::WaitUntil([&] { return !IsWindow(viewer); }, 10000)) << "the viewer did not close";

    // After the user closed it, the menu opens it again.
    ChooseHelp(messenger);
    ASSERT_TRUE(rig::WaitUntil([] { return ViewerWindows().found != nullptr; }, 15000));
    HWND again = ViewerWindows().found;
    PostMessageA(again, WM_CLOSE, 0, 0);
    EXPECT_TRUE(rig::WaitUntil([&] { return !IsWindow(again); }, 10000));
    EXPECT_TRUE(IsWindow(messenger));
}
