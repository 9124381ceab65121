// Hostile stored settings: "Lang", "AutoLogon", "Profile" and "Password" of every registry type
// and of awkward sizes, with and without terminators, generated from a seed (ORVL_SEED replaces
// it; the seed in use is printed). For each combination the module is loaded afresh (so that
// "Lang" is read again), injected into a new Messenger window, and the settings sheet is opened
// and cancelled: nothing crashes, the page shows only whole texts, Cancel leaves every stored
// value byte for byte as it was, and Messenger still answers.
#include "tests/about_links_support.h"
#include "tests/mapi_support.h"
#include "tests/rig/rig.h"
#include "sandbox/mapi_provider/mapi_fixture.h"
#include "sandbox/mapi_provider/mapi_recorder.h"
#include "sandbox/messenger/messenger_window.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

using namespace rig;

namespace {

const char* const ValueNames[] = {"Lang", "AutoLogon", "Profile", "Password"};
const DWORD Types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK,
                       REG_MULTI_SZ, REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR,
                       REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD};
const DWORD Sizes[] = {0, 1, 3, 4, 5, 298, 299, 300, 301, 5000, 65536};
const char EnglishSettingsItem[] = "Settings...";

struct Shape { DWORD type; DWORD size; bool terminated; };

// Every type, size and terminator choice once (a value of size 0 has no terminator to choose).
std::vector<Shape> AllShapes()
{
    std::vector<Shape> shapes;
    for (DWORD type : Types)
        for (DWORD size : Sizes)
            for (bool terminated : {false, true})
                if (size > 0 || !terminated)
                    shapes.push_back({type, size, terminated});
    return shapes;
}

unsigned Seed()
{
    char text[16] = "";
    DWORD length = GetEnvironmentVariableA("ORVL_SEED", text, sizeof(text));
    return length > 0 && length < sizeof(text) ? static_cast<unsigned>(strtoul(text, nullptr, 10)) : 20261208u;
}

// Letters, and a terminating zero as the last byte when asked: so any text that the page
// shows must be a run of the stored letters.
std::string Content(const Shape& shape, std::mt19937& random)
{
    std::string bytes(shape.size, '\0');
    for (DWORD i = 0; i < shape.size; ++i)
        bytes[i] = static_cast<char>('a' + random() % 26);
    if (shape.terminated && shape.size > 0)
        bytes[shape.size - 1] = '\0';
    return bytes;
}

struct Stored { bool present = false; DWORD type = 0; std::string bytes; };

// The value as stored, read with the "W" function so that no conversion touches it.
Stored ReadStored(const char* name)
{
    Stored value;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(SettingsKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    std::wstring wideName = Wide(name);
    DWORD size = 0;
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.assign(size, '\0');
        value.present = RegQueryValueExW(key, wideName.c_str(), nullptr, &value.type,
                                         reinterpret_cast<BYTE*>(&value.bytes[0]), &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What the settings store makes of a value of other types: four bytes over a default.
DWORD AsNumber(const std::string& bytes, DWORD fallback)
{
    if (bytes.size() > sizeof(DWORD))
        return fallback;
    DWORD number = fallback;
    memcpy(&number, bytes.data(), bytes.size());
    return number;
}

// The text a 300-byte field shows for stored bytes of other types: whole texts only.
std::string AsField(const std::string& bytes)
{
    const size_t capacity = 300;
    if (bytes.size() > capacity || (bytes.size() == capacity && bytes[capacity - 1] != '\0'))
        return std::string();
    return std::string(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
}

bool AllLetters(const std::string& text)
{
    for (char c : text)
        if (c < 'a' || c > 'z')
            return false;
    return true;
}

std::string Describe(const Shape& shape)
{
    char text[64];
    std::snprintf(text, sizeof text, "type %lu, %lu bytes, %s", shape.type, shape.size,
                  shape.terminated ? "terminated" : "unterminated");
    return text;
}

class HostileSettings : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        MapiFixture::Clear();
        DeleteSettingsKey();
        MapiFixture::AddProfile("Office", true);
        MapiFixture::AddProfile("Home", false);
        // Kept loaded across the module's loads and unloads, so that MAPI is not started anew each time.
        mapi = LoadLibraryA("mapi32.dll");
    }
    void TearDown() override
    {
        ExpectMapiReleasedEverything();
        MapiFixture::Clear();
        DeleteSettingsKey();
    }
    HMODULE mapi = nullptr;
};

// The combinations are dealt to four cases (and processes), the parameter of each.
const int Shards = 4;

TEST_P(HostileSettings, ModuleLoadsSheetOpensAndCancelKeepsEveryValue)
{
    const std::vector<Shape> shapes = AllShapes();
    const unsigned seed = Seed() + GetParam();
    std::printf("seed %u (ORVL_SEED=%u)\n", seed, Seed());
    std::mt19937 random(seed);
    const std::string modulePath = about_support::ShippedModulePath();
    const size_t count = shapes.size();
    // Opening k gives value v the shape (k + v * count / 4): every value meets every shape.
    int openings = 0;
    int skipped = 0;
    for (size_t k = GetParam(); k < count && !HasFailure(); k += Shards) {
        Shape shape[4];
        std::string bytes[4];
        DeleteSettingsKey();
        bool stored = true;
        for (int v = 0; v < 4; ++v) {
            shape[v] = shapes[(k + v * count / 4) % count];
            bytes[v] = Content(shape[v], random);
            SetSettingRaw(ValueNames[v], shape[v].type, bytes[v].data(), shape[v].size);
            stored = stored && ReadStored(ValueNames[v]).present;
        }
        if (!stored) {
            ++skipped;   // a type the registry refuses cannot reach the module
            continue;
        }
        Stored before[4];
        for (int v = 0; v < 4; ++v)
            before[v] = ReadStored(ValueNames[v]);
        SCOPED_TRACE("opening " + std::to_string(k) + ": Lang " + Describe(shape[0]) + "; AutoLogon " +
                     Describe(shape[1]) + "; Profile " + Describe(shape[2]) + "; Password " + Describe(shape[3]));

        HWND messenger = CreateMessenger();
        HMODULE module = LoadLibraryA(modulePath.c_str());
        ASSERT_NE(nullptr, module);
        ASSERT_TRUE(about_support::InjectCopy(module));
        ASSERT_TRUE(SandboxMapi::Load());
        HMENU bar = GetMenu(messenger);
        ASSERT_EQ(1, CountProductPopups(bar));
        std::vector<MenuItem> items = MenuItems(bar);
        const bool english = !items.empty() && items.back().submenu
                             && MenuItems(items.back().submenu).front().text == EnglishSettingsItem;
        if (!IsTextType(shape[0].type)) {
            EXPECT_EQ(AsNumber(bytes[0], 0) == 0, english) << "the menu is in the wrong language";
        }

        WithSettingsSheet(messenger, english ? SettingsCaption : RussianSettingsCaption, [&](ModalScript& script, HWND sheet, HWND page) {
            std::string password = ControlText(page, IDC_PASSWORD);
            EXPECT_LE(password.size(), 299u);
            EXPECT_TRUE(AllLetters(password)) << "password field shows more than the stored text";
            if (!IsTextType(shape[3].type)) {
                EXPECT_EQ(AsField(bytes[3]), password);
            }
            if (!IsTextType(shape[1].type)) {
                EXPECT_EQ(AsNumber(bytes[1], 1) != 0, ButtonChecked(page, IDC_AUTO_LOGON));
            }
            EXPECT_NE(ButtonChecked(page, IDC_AUTO_LOGON), ButtonChecked(page, IDC_PROFILE_LOGON));
            EXPECT_GE(ComboSelection(page, IDC_PROFILE_LIST), 0);
            script.PressSheetButton(sheet, PSBTN_CANCEL);
        });
        for (int v = 0; v < 4; ++v) {
            Stored after = ReadStored(ValueNames[v]);
            EXPECT_TRUE(after.present == before[v].present && after.type == before[v].type
                        && after.bytes == before[v].bytes)
                << ValueNames[v] << " changed";
        }
        EXPECT_TRUE(MessengerResponds(messenger));
        // Unload the module completely (its pin and our load) so that the next load starts afresh;
        // its window goes first, so that nothing is left pointing into it.
        DestroyWindow(messenger);
        Pump(10);
        FreeLibrary(module);
        FreeLibrary(module);
        ASSERT_EQ(nullptr, GetModuleHandleA(modulePath.c_str())) << "the module stayed loaded";
        ++openings;
    }
    std::printf("%d openings, %d combinations the registry refused\n", openings, skipped);
    EXPECT_GT(openings, 0);
}

INSTANTIATE_TEST_SUITE_P(Shards, HostileSettings, testing::Values(0, 1, 2, 3));

} // namespace

// The first run: no settings key at all. The page offers automatic logon with an empty password,
// Cancel writes nothing, OK where the key cannot be created (an HKCU the user may not write to)
// writes nothing either, and OK creates the key with what the page showed.
TEST(NoSettingsKey, SheetOffersAutomaticLogonCancelWritesNothingOkCreatesTheKey)
{
    MapiFixture::Clear();
    ASSERT_GE(MapiFixture::AddProfile(std::string("Office"), true), 0);
    HWND messenger = CreateMessenger();
    ASSERT_NE(nullptr, LoadModule(Language::NoKey));
    ASSERT_TRUE(SandboxMapi::Load());
    ASSERT_TRUE(InjectAsHost());
    for (int pass = 0; pass < 3; ++pass) {
        const bool ok = pass > 0, refused = pass == 1;
        SCOPED_TRACE(refused ? "OK, key refused" : ok ? "OK" : "Cancel");
        void* create = refused ? RefuseImport(Module(), "ADVAPI32.dll", "RegCreateKeyExA", 9) : nullptr;
        ASSERT_EQ(refused, create != nullptr);
        WithSettingsSheet(messenger, "Orvella Settings", [&](ModalScript& script, HWND sheet, HWND page) {
            EXPECT_TRUE(ButtonChecked(page, IDC_AUTO_LOGON));
            EXPECT_FALSE(ControlEnabled(page, IDC_TEST_LOGON));
            EXPECT_EQ("", ControlText(page, IDC_PASSWORD));
            EXPECT_EQ(std::vector<std::string>{"Office"}, ComboItems(page, IDC_PROFILE_LIST));
            script.PressSheetButton(sheet, ok ? PSBTN_OK : PSBTN_CANCEL);
        });
        HKEY key = nullptr;
        LONG opened = RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key);
        if (key)
            RegCloseKey(key);
        if (!ok || refused) {
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, opened) << "the settings key was written";
            if (create)
                ReplaceImport(Module(), "ADVAPI32.dll", "RegCreateKeyExA", create);
            continue;
        }
        ASSERT_EQ(ERROR_SUCCESS, opened);
        RegValue autoLogon = ReadSetting("AutoLogon");
        ASSERT_TRUE(autoLogon.present);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), autoLogon.type);
        EXPECT_EQ(std::string("\x01\0\0\0", 4), autoLogon.data);
        EXPECT_EQ(std::string("Office", 7), ReadSetting("Profile").data);
        EXPECT_EQ(std::string("", 1), ReadSetting("Password").data);
    }
    ExpectMapiReleasedEverything();
    MapiFixture::Clear();
    DeleteSettingsKey();
}
