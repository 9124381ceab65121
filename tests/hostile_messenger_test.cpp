// A hostile Messenger, generated from a seed (ORVL_SEED replaces it; the seed in use is printed):
// its window destroyed and made again, menu bars replaced or taken away, a bar that starts with a
// command, the host calling fnOrvlHook again while its event exists, other add-ins subclassing
// the window and leaving again, and a flood of random menu commands. After every step Messenger still answers, the menu bar holds exactly one "Orvella"
// popup (or none when there is no bar), and the router sends the product's commands to the module
// and everything else to Messenger's own procedure with its result.
#include "tests/about_links_support.h"
#include "tests/help_support.h"
#include "tests/rig/neighbour.h"
#include "tests/rig/rig.h"
#include "sandbox/hhctrl_recorder/hhctrl_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

using namespace rig;

namespace {

const char SheetCaption[] = "Orvella Settings";
const char AboutCaption[] = "About Orvella Add-in for Windows Messenger...";

unsigned Seed()
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA("ORVL_SEED", text, sizeof(text));
    unsigned seed = length > 0 && length < sizeof(text) ? static_cast<unsigned>(strtoul(text, nullptr, 10)) : 20261208u;
    std::printf("seed %u\n", seed);
    return seed;
}

bool IsProductCommand(WORD id)
{
    return id == IDM_SETTINGS || id == IDM_HELP || id == IDM_HOMEPAGE || id == IDM_ABOUT;
}

class HostileMessenger : public testing::Test {
protected:
    HWND messenger = nullptr;
    HMODULE helpControl = nullptr;

    void SetUp() override
    {
        // Help requests go to the recording help control, homepage requests to a handler that
        // fails at once (a browser start per request would take seconds under emulation).
        DeleteSettingsKey();
        messenger = CreateMessenger();
        ASSERT_NE(nullptr, LoadModule(Language::English));
        help_support::UseHelpControlFrom(Module(), "help-recorder");
        ASSERT_TRUE(InjectAsHost());
        ASSERT_TRUE(about_support::WatchShellRequests(Module()));
        Pump(20);
    }

    LONG HelpCalls()
    {
        HMODULE control = GetModuleHandleA("hhctrl.ocx");
        auto count = control ? reinterpret_cast<HhRecorderCallCountProc>(
                                   reinterpret_cast<void*>(GetProcAddress(control, "HhRecorder_CallCount")))
                             : nullptr;
        return count ? count() : 0;
    }

    // Sends one product command and checks that the module, not Messenger, took it.
    void SendProductCommand(WORD id)
    {
        LONG commandsBefore = sandbox::GetMessengerStats().commands;
        LONG helpBefore = HelpCalls();
        size_t shellBefore = about_support::ShellRequests().size();
        if (id == IDM_SETTINGS || id == IDM_ABOUT) {
            const char* caption = id == IDM_SETTINGS ? SheetCaption : AboutCaption;
            RunModal([&] { EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, id, 0)); },
                     [&](ModalScript& script) {
                         HWND window = script.WaitForWindow("#32770", caption);
                         if (!window)
                             return;
                         if (id == IDM_SETTINGS)
                             script.PressSheetButton(window, PSBTN_CANCEL);
                         else
                             script.Click(window, IDOK);
                         script.WaitForClose(window);
                     });
        } else {
            EXPECT_EQ(0, SendMessageA(messenger, WM_COMMAND, id, 0));
            if (id == IDM_HELP) {
                EXPECT_EQ(helpBefore + (helpBefore ? 1 : 2), HelpCalls()) << "no help request";
            } else {
                EXPECT_EQ(shellBefore + 1, about_support::ShellRequests().size()) << "no homepage request";
            }
        }
        EXPECT_EQ(commandsBefore, sandbox::GetMessengerStats().commands) << "command " << id << " reached Messenger";
    }

    // Sends an ordinary command and checks that Messenger's procedure answered it.
    void SendOtherCommand(WORD id, WORD code)
    {
        LONG commandsBefore = sandbox::GetMessengerStats().commands;
        EXPECT_EQ(sandbox::MessengerCommandAnswer, SendMessageA(messenger, WM_COMMAND, MAKEWPARAM(id, code), 0)) << id;
        EXPECT_EQ(commandsBefore + 1, sandbox::GetMessengerStats().commands);
        EXPECT_EQ(id, sandbox::GetMessengerStats().lastCommandId);
    }
};

TEST_F(HostileMessenger, TenThousandRandomCommands)
{
    about_support::UrlHandler handler("https", "\"C:\\orvella-no-browser.exe\" \"%1\"");
    ASSERT_TRUE(handler.Swapped());
    std::mt19937 random(Seed());
    const WORD Products[] = {IDM_SETTINGS, IDM_HELP, IDM_HOMEPAGE, IDM_ABOUT};
    int products = 0;
    for (int i = 0; i < 10000 && !HasFailure(); ++i) {
        WORD id = static_cast<WORD>(random());
        // Now and then one of the product's own commands, each several times over the run.
        if (random() % 250 == 0)
            id = Products[products++ % 4];
        if (IsProductCommand(id))
            SendProductCommand(id);
        else
            SendOtherCommand(id, static_cast<WORD>(random() % 2));
    }
    std::printf("%d product commands among them\n", products);
    EXPECT_GE(products, 8);
    EXPECT_TRUE(MessengerResponds(messenger));
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
}

TEST_F(HostileMessenger, WindowAndMenuUpheavals)
{
    about_support::UrlHandler handler("https", "\"C:\\orvella-no-browser.exe\" \"%1\"");
    ASSERT_TRUE(handler.Swapped());
    std::mt19937 random(Seed() + 1);
    enum Upheaval { Recreate, RecreateWithCommandFirst, RecreateWithoutMenu, ReplaceBar, TakeBarAway, RemovePopup,
                    InjectAgain, NeighbourArrives, NeighbourLeaves, Count };
    const char* const Names[] = {"recreate", "recreate with a command first", "recreate without a menu",
                                 "replace the bar", "take the bar away", "remove the popup", "inject again",
                                 "another add-in subclasses", "the top add-in leaves"};
    // Other add-ins' subclasses of the current window, in the order they came (the last on top).
    std::vector<std::unique_ptr<NeighbourSubclass>> neighbours;
    int done[Count] = {};
    for (int step = 0; step < 120 && !HasFailure(); ++step) {
        Upheaval upheaval = static_cast<Upheaval>(step < Count ? step : static_cast<int>(random() % Count));
        SCOPED_TRACE(std::string("step ") + std::to_string(step) + ": " + Names[upheaval]);
        ++done[upheaval];
        switch (upheaval) {
        case Recreate:
        case RecreateWithCommandFirst:
        case RecreateWithoutMenu:
            DestroyWindow(messenger);
            neighbours.clear();   // gone with the window
            Pump(5);
            messenger = CreateMessenger(upheaval != RecreateWithoutMenu, upheaval != RecreateWithCommandFirst);
            break;
        case ReplaceBar:
        case TakeBarAway: {
            HMENU old = GetMenu(messenger);
            SetMenu(messenger, upheaval == ReplaceBar ? sandbox::CreateMessengerMenuBar(random() % 2 == 0) : nullptr);
            if (old)
                DestroyMenu(old);
            break;
        }
        case RemovePopup:
            if (HMENU bar = GetMenu(messenger))
                DeleteMenu(bar, GetMenuItemCount(bar) - 1, MF_BYPOSITION);
            break;
        case InjectAgain:
            ASSERT_TRUE(InjectAsHost());
            break;
        case NeighbourArrives:
            if (neighbours.size() < 4) {
                neighbours.emplace_back(new NeighbourSubclass(
                    messenger, random() % 2 ? sandbox::CharacterSet::Unicode : sandbox::CharacterSet::Ansi));
                ASSERT_TRUE(neighbours.back()->Installed());
            }
            break;
        case NeighbourLeaves:
            if (!neighbours.empty() && WindowProcedure(messenger) == neighbours.back()->Procedure()) {
                neighbours.back()->Leave();
                neighbours.pop_back();
            }
            break;
        default:
            break;
        }
        ASSERT_TRUE(MessengerResponds(messenger));
        // Messenger's thread retrieves a trigger message: the popup is back where there is a bar.
        PostMessageA(messenger, random() % 2 ? 0x8002 : 0x0400, 0, 0);
        Pump(20);
        HMENU bar = GetMenu(messenger);
        ASSERT_EQ(bar ? 1 : 0, CountProductPopups(bar));
        ASSERT_TRUE(MessengerResponds(messenger));
        // Every other add-in's procedure sees an ordinary command once, and none loops.
        for (auto& neighbour : neighbours) {
            ASSERT_FALSE(neighbour->LoopCut());
            neighbour->ResetCounts();
        }
        WORD other = static_cast<WORD>(random());
        if (!IsProductCommand(other)) {
            SendOtherCommand(other, 0);
            for (auto& neighbour : neighbours)
                EXPECT_EQ(1, neighbour->Entries());
        }
        // Where the popup is, the router is too: a product command goes to the module.
        if (bar)
            SendProductCommand(random() % 2 ? IDM_HELP : IDM_HOMEPAGE);
    }
    for (int i = 0; i < Count; ++i)
        std::printf("%s: %d times\n", Names[i], done[i]);
}

TEST_F(HostileMessenger, HostCallsTheHookAgainAndAgainWhileItsEventExists)
{
    WNDPROC routed = WindowProcedure(messenger);
    ProcessResources before = CountProcessResources();
    HANDLE injected = CreateEventA(nullptr, TRUE, FALSE, "Orvella Dll Injected");
    ASSERT_NE(nullptr, injected);
    for (int i = 0; i < 1000; ++i) {
        ResetEvent(injected);
        EXPECT_EQ(0, ExportedHook()(HC_ACTION, 0, 0));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(injected, 0)) << "call " << i << " did not answer";
        if (i % 100 == 99)
            Pump(0);
    }
    CloseHandle(injected);
    Pump(20);
    // One hook, one marker event, one router and one popup, however often the host asks.
    ProcessResources growth = Growth(before, CountProcessResources());
    EXPECT_LE(growth.kernelHandles, 0) << Describe(growth);
    EXPECT_LE(growth.menus, 0) << Describe(growth);
    EXPECT_TRUE(EventSignalled("Orvella Hook Installed"));
    EXPECT_EQ(routed, WindowProcedure(messenger));
    EXPECT_EQ(1, CountProductPopups(GetMenu(messenger)));
    ASSERT_TRUE(MessengerResponds(messenger));
    SendOtherCommand(4711, 0);
    SendProductCommand(IDM_HELP);
}

} // namespace
