// Endurance: the module stays in Messenger for as long as Messenger runs, so every command is
// repeated many times and the process's kernel handles, GDI objects, menus, cursors and windows
// must not grow (counted by the rig, since Wine answers 0 to GetGuiResources and
// GetProcessHandleCount), MAPI must see every object released, and the menu bar must keep
// exactly one "Orvella" popup.
#include "tests/about_links_support.h"
#include "tests/help_support.h"
#include "tests/mapi_support.h"
#include "tests/rig/neighbour.h"
#include "tests/rig/rig.h"
#include "sandbox/hhctrl_recorder/hhctrl_recorder.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace rig;

namespace {

const char SheetCaption[] = "Orvella Settings";
const UINT MenuTriggerMessages[] = {0x8002, 0x0400};

// Wine keeps a few caches of its own (device contexts, class and font data) that may settle a
// little after the warm-up; anything the module leaked per repetition would show hundreds.
const int Slack = 4;

// How many times a command is repeated: ORVL_ENDURANCE_ROUNDS overrides `rounds` (for measuring).
int Rounds(int rounds)
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA("ORVL_ENDURANCE_ROUNDS", text, sizeof(text));
    return length > 0 && length < sizeof(text) ? atoi(text) : rounds;
}

// Repeats body `rounds` times and prints how long one round took on average.
void Repeat(const char* what, int rounds, const std::function<void()>& body)
{
    DWORD start = GetTickCount();
    for (int i = 0; i < rounds && !testing::Test::HasFailure(); ++i)
        body();
    std::printf("%s: %d rounds, %.1f ms each\n", what, rounds, rounds ? double(GetTickCount() - start) / rounds : 0.0);
}

void ExpectNoGrowth(const ProcessResources& before, const ProcessResources& after)
{
    ProcessResources growth = Growth(before, after);
    EXPECT_LE(growth.kernelHandles, Slack) << "before: " << Describe(before) << "\nafter: " << Describe(after);
    EXPECT_LE(growth.gdiObjects, Slack) << "before: " << Describe(before) << "\nafter: " << Describe(after);
    EXPECT_LE(growth.menus, 0) << "before: " << Describe(before) << "\nafter: " << Describe(after);
    EXPECT_LE(growth.cursorsAndIcons, 0) << "before: " << Describe(before) << "\nafter: " << Describe(after);
    EXPECT_LE(growth.windows, 0) << "before: " << Describe(before) << "\nafter: " << Describe(after);
}

class Endurance : public MapiCase {
protected:
    HWND messenger = nullptr;

    void TearDown() override
    {
        if (messenger) {
            EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
            EXPECT_TRUE(MessengerResponds(messenger));
        }
        MapiCase::TearDown();
    }

    void Start()
    {
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, LoadModule(Language::English));
        ASSERT_TRUE(InjectAsHost());
        Pump(20);
    }

    // Sends a menu command `rounds` times, letting Messenger's queue run after each.
    void SendRepeatedly(const char* what, UINT command, int rounds)
    {
        Repeat(what, rounds, [&] {
            SendMessageA(messenger, WM_COMMAND, command, 0);
            Pump(0);
        });
        Pump(20);
    }

    // Opens a modal window with a menu command and closes it as the user would, `times` times.
    void OpenAndClose(UINT command, const char* caption, int times, const std::function<void(ModalScript&, HWND)>& close)
    {
        Repeat(caption, times, [&] {
            RunModal([&] { SendMessageA(messenger, WM_COMMAND, command, 0); },
                     [&](ModalScript& script) {
                         HWND window = script.WaitForWindow("#32770", caption);
                         if (!window)
                             return;
                         close(script, window);
                         script.WaitForClose(window);
                     });
        });
    }
};

TEST_F(Endurance, SettingsSheetOpenedAndClosed200Times)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_GE(MapiFixture::AddProfile("Profile " + std::to_string(i), i == 2), 0);
    Start();
    ASSERT_TRUE(SandboxMapi::Load());
    auto cancel = [](ModalScript& script, HWND sheet) { script.PressSheetButton(sheet, PSBTN_CANCEL); };
    OpenAndClose(IDM_SETTINGS, SheetCaption, 2, cancel);   // warm-up: Wine's first-use allocations
    ProcessResources before = CountProcessResources();
    SandboxMapi::ResetLog();
    const int rounds = Rounds(200);
    OpenAndClose(IDM_SETTINGS, SheetCaption, rounds, cancel);
    ProcessResources after = CountProcessResources();
    ExpectNoGrowth(before, after);
    EXPECT_EQ(rounds, SandboxMapi::CallCount("MAPIUninitialize"));
    EXPECT_GE(SandboxMapi::CallCount("ProfAdmin.GetProfileTable"), rounds);
    EXPECT_EQ(0, SandboxMapi::InitCount());
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
}

TEST_F(Endurance, AboutDialogOpenedAndClosed200Times)
{
    CoInitialize(nullptr);
    Start();
    // A screen reader asks for both labels' objects at every opening.
    auto ok = [](ModalScript& script, HWND dialog) {
        for (int label : {IDC_SUPPORT_LINK, IDC_HOMEPAGE_LINK})
            EXPECT_EQ(ROLE_SYSTEM_LINK, HearWindow(GetDlgItem(dialog, label)).role);
        script.Click(dialog, IDOK);
    };
    OpenAndClose(IDM_ABOUT, about_support::EnglishAboutCaption, 2, ok);
    ProcessResources before = CountProcessResources();
    OpenAndClose(IDM_ABOUT, about_support::EnglishAboutCaption, Rounds(200), ok);
    ExpectNoGrowth(before, CountProcessResources());
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
}

TEST_F(Endurance, HundredThousandTriggerMessagesKeepOnePopup)
{
    Start();
    // Another add-in subclasses Messenger's window after us, as add-ins do.
    NeighbourSubclass neighbour(messenger, sandbox::CharacterSet::Unicode);
    ASSERT_TRUE(neighbour.Installed());
    HMENU bar = GetMenu(messenger);
    ASSERT_EQ(1, CountProductPopups(bar));
    ProcessResources before = CountProcessResources();
    const int Total = Rounds(100000);
    const int Batch = 500;
    for (int sent = 0; sent < Total && !HasFailure(); sent += Batch) {
        // Now and then Messenger loses the popup, so that the installer runs its whole path too.
        if (sent % 10000 == 5000) {
            int last = GetMenuItemCount(bar) - 1;
            ASSERT_EQ(1, CountProductPopups(bar));
            ASSERT_TRUE(DeleteMenu(bar, last, MF_BYPOSITION));
            ASSERT_EQ(0, CountProductPopups(bar));
        }
        for (int i = 0; i < Batch; ++i)
            ASSERT_TRUE(PostMessageA(messenger, MenuTriggerMessages[i % 2], 0, 0));
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        ASSERT_EQ(1, CountProductPopups(bar)) << "after " << sent + Batch << " messages";
    }
    // Each reinstall loads the menu resource: only the popup that went into the bar may stay.
    ExpectNoGrowth(before, CountProcessResources());
    // The router was never put in twice: an ordinary command passes each procedure once.
    EXPECT_FALSE(neighbour.LoopCut());
    EXPECT_EQ(neighbour.Procedure(), WindowProcedure(messenger));
    neighbour.ResetCounts();
    LONG commands = sandbox::GetMessengerStats().commands;
    EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageW(messenger, WM_COMMAND, 4711, 0));
    EXPECT_EQ(1, neighbour.Entries());
    EXPECT_EQ(commands + 1, sandbox::GetMessengerStats().commands);
}

TEST_F(Endurance, ThousandHelpRequests)
{
    Start();
    help_support::UseHelpControlFrom(Module(), "help-recorder");
    SendMessageA(messenger, WM_COMMAND, IDM_HELP, 0);   // loads the control and makes its window
    Pump(20);
    HMODULE control = GetModuleHandleA("hhctrl.ocx");
    ASSERT_NE(nullptr, control) << "the recording help control was not loaded";
    auto callCount = reinterpret_cast<HhRecorderCallCountProc>(
        reinterpret_cast<void*>(GetProcAddress(control, "HhRecorder_CallCount")));
    ASSERT_NE(nullptr, callCount);
    LONG callsBefore = callCount();
    ProcessResources before = CountProcessResources();
    const int rounds = Rounds(1000);
    SendRepeatedly("help request", IDM_HELP, rounds);
    ExpectNoGrowth(before, CountProcessResources());
    EXPECT_EQ(rounds, callCount() - callsBefore) << "one viewer call per request";
    EXPECT_EQ(control, GetModuleHandleA("hhctrl.ocx")) << "the control stays loaded";
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
}

TEST_F(Endurance, ThousandHomepageRequests)
{
    // A browser start per request would take an hour under emulation: the handler names a
    // program that does not exist, so the shell does all its work and then fails quietly.
    about_support::UrlHandler handler("https", "\"C:\\orvella-no-browser.exe\" \"%1\"");
    ASSERT_TRUE(handler.Swapped());
    Start();
    ASSERT_TRUE(about_support::WatchShellRequests(Module()));
    SendMessageA(messenger, WM_COMMAND, IDM_HOMEPAGE, 0);
    Pump(20);
    ProcessResources before = CountProcessResources();
    about_support::ShellRequests().clear();
    const int rounds = Rounds(1000);
    SendRepeatedly("homepage request", IDM_HOMEPAGE, rounds);
    ExpectNoGrowth(before, CountProcessResources());
    const std::vector<about_support::ShellRequest>& requests = about_support::ShellRequests();
    ASSERT_EQ(static_cast<size_t>(rounds), requests.size());
    for (const about_support::ShellRequest& request : requests) {
        EXPECT_EQ("https://www.dorvane.example/orvella?forv_10", request.file);
        EXPECT_LE(reinterpret_cast<INT_PTR>(request.result), 32) << "the stand-in handler ran after all";
        if (HasFailure())
            break;
    }
    EXPECT_EQ(0, sandbox::GetMessengerStats().commands);
}

} // namespace
