// The sandbox MAPI provider, driven the way the module drives MAPI: through Wine's mapi32.dll,
// which forwards to the default mail client's Extended MAPI DLL. Needs a prefix where
// mapi_provider.reg was loaded (it makes orvl_mapi_provider.dll that client).

#include <gtest/gtest.h>

#include <windows.h>
#include <mapix.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../sandbox/mapi_provider/mapi_fixture.h"
#include "../sandbox/mapi_provider/mapi_ids.h"
#include "../sandbox/mapi_provider/mapi_recorder.h"

namespace {

using namespace sbx;  // the interface ids, tags and codes MAPI's headers lack

constexpr HRESULT kLogonFailed = static_cast<HRESULT>(0x80040111L);
constexpr HRESULT kUnknownFlags = static_cast<HRESULT>(0x80040106L);
constexpr ULONG kBestAccess = 0x00000010;

template <class F>
F Proc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Wine's mapi32.dll, looked up by name as a MAPI client does.
struct Mapi32 {
  HMODULE module = LoadLibraryA("mapi32.dll");
  LPMAPIINITIALIZE Initialize = Proc<LPMAPIINITIALIZE>(module, "MAPIInitialize");
  LPMAPIUNINITIALIZE Uninitialize = Proc<LPMAPIUNINITIALIZE>(module, "MAPIUninitialize");
  LPMAPIADMINPROFILES AdminProfiles = Proc<LPMAPIADMINPROFILES>(module, "MAPIAdminProfiles");
  LPMAPILOGONEX LogonEx = Proc<LPMAPILOGONEX>(module, "MAPILogonEx");
  LPMAPIALLOCATEBUFFER AllocateBuffer = Proc<LPMAPIALLOCATEBUFFER>(module, "MAPIAllocateBuffer");
  LPMAPIALLOCATEMORE AllocateMore = Proc<LPMAPIALLOCATEMORE>(module, "MAPIAllocateMore");
  LPMAPIFREEBUFFER FreeBuffer = Proc<LPMAPIFREEBUFFER>(module, "MAPIFreeBuffer");
  // Windows' mapi32 exports FreeProws only under its decorated name.
  void(WINAPI* FreeProws)(LPSRowSet) = Proc<void(WINAPI*)(LPSRowSet)>(module, "FreeProws@4");

  bool Ok() const {
    return Initialize && Uninitialize && AdminProfiles && LogonEx && AllocateBuffer && AllocateMore && FreeBuffer &&
           FreeProws;
  }

  static Mapi32& Get() {
    static Mapi32 mapi;
    return mapi;
  }
};

Mapi32& M() { return Mapi32::Get(); }

// Releases a COM pointer at scope exit unless the test released it itself.
template <class T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T** out() { return &p_; }
  void** outVoid() { return reinterpret_cast<void**>(&p_); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  ULONG Release() {
    ULONG refs = p_->Release();
    p_ = nullptr;
    return refs;
  }

 private:
  T* p_ = nullptr;
};

// MAPI memory freed at scope exit, or when out() hands the slot to the next call.
template <class T, void (*FreeFn)(T*)>
class Owned {
 public:
  Owned() = default;
  ~Owned() { Free(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T** out() {
    Free();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Free() {
    if (p_) FreeFn(p_);
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

void FreeRows(LPSRowSet rows) { M().FreeProws(rows); }
template <class T>
void FreeBlock(T* block) {
  M().FreeBuffer(block);
}

using RowSet = Owned<SRowSet, FreeRows>;
template <class T>
using Buffer = Owned<T, FreeBlock<T>>;

// An SPropTagArray of any length.
class Tags {
 public:
  Tags(std::initializer_list<ULONG> tags) : words_(1 + tags.size()) {
    words_[0] = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), words_.begin() + 1);
  }
  LPSPropTagArray get() { return reinterpret_cast<LPSPropTagArray>(words_.data()); }

 private:
  std::vector<ULONG> words_;
};

// The text of a PT_STRING8 value; anything else is named, never dereferenced.
std::string Str(const SPropValue& v) {
  if (PROP_TYPE(v.ulPropTag) != PT_STRING8) {
    char text[40];
    std::snprintf(text, sizeof text, "(not a string: tag %08lx)", v.ulPropTag);
    return text;
  }
  return v.Value.lpszA ? v.Value.lpszA : "(null)";
}

// Column `column` of every row, as texts.
std::vector<std::string> Column(const RowSet& rows, ULONG column) {
  std::vector<std::string> texts;
  for (ULONG i = 0; rows && i < rows->cRows; ++i) texts.push_back(Str(rows->aRow[i].lpProps[column]));
  return texts;
}

using Texts = std::vector<std::string>;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Every line stands in the provider's record.
void ExpectLogHas(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) EXPECT_TRUE(SandboxMapi::Has(line)) << line << "\n" << SandboxMapi::Log();
}

// A call that hands out `out`: the out value is set exactly when the call succeeds.
template <class Out>
HRESULT Produced(HRESULT hr, const Out& out) {
  EXPECT_EQ(hr == S_OK, static_cast<bool>(out)) << std::hex << hr;
  return hr;
}

// Runs the calls in turn up to the first that fails; the result of the last one run.
HRESULT UpToFirstFailure(std::initializer_list<std::function<HRESULT()>> calls) {
  HRESULT last = S_OK;
  for (const std::function<HRESULT()>& call : calls)
    if ((last = call()) != S_OK) break;
  return last;
}

class MapiProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(M().module) << "mapi32.dll did not load";
    ASSERT_TRUE(M().Ok()) << "mapi32.dll lacks an Extended MAPI export";
    ASSERT_TRUE(SandboxMapi::Load())
        << "mapi32.dll did not load orvl_mapi_provider.dll: is mapi_provider.reg loaded in this prefix?";
    ASSERT_TRUE(MapiFixture::Clear());
    SandboxMapi::ResetLog();
    objects_ = SandboxMapi::LiveObjects();
    buffers_ = SandboxMapi::LiveBuffers();
    misuses_ = SandboxMapi::Misuses();
    inits_ = SandboxMapi::InitCount();
  }

  void TearDown() override {
    if (!SandboxMapi::Loaded()) return;
    EXPECT_EQ(SandboxMapi::LiveObjects(), objects_) << "objects left unreleased\n" << SandboxMapi::Log();
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_) << "MAPI blocks left unfreed\n" << SandboxMapi::Log();
    EXPECT_EQ(SandboxMapi::Misuses(), misuses_ + expectedMisuses_) << SandboxMapi::Log();
    EXPECT_EQ(SandboxMapi::InitCount(), inits_) << "MAPIInitialize left unbalanced";
    MapiFixture::Clear();
  }

  HRESULT Init() {
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    return M().Initialize(&init);
  }

  // Initializes MAPI as the module does; TearDown checks that Uninit balanced it.
  void InitOnce() {
    ASSERT_EQ(Init(), S_OK);
    initialized_ = true;
  }

  // The profile table and its rows, released in this order at scope exit.
  struct ProfileTable {
    Ref<IProfAdmin> admin;
    Ref<IMAPITable> table;
    RowSet rows;
  };

  // Initializes MAPI and opens the profile table as the module does.
  void OpenProfiles(ProfileTable& profiles) {
    ASSERT_NO_FATAL_FAILURE(InitOnce());
    ASSERT_EQ(M().AdminProfiles(0, profiles.admin.out()), S_OK);
    ASSERT_EQ(profiles.admin->GetProfileTable(0, profiles.table.out()), S_OK);
  }

  // Initializes MAPI and logs on to `profile`; the session is released by the caller's Ref.
  void LogOn(const char* profile, Ref<IMAPISession>& session) {
    ASSERT_NO_FATAL_FAILURE(InitOnce());
    ASSERT_EQ(M().LogonEx(0, const_cast<LPSTR>(profile), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, session.out()),
              S_OK);
    ASSERT_TRUE(session);
  }

  // Opens the session's identity as the module does.
  void OpenIdentity(IMAPISession* session, Ref<IUnknown>& identity, ULONG* type) {
    ULONG cb = 0;
    Buffer<ENTRYID> id;
    ASSERT_EQ(session->QueryIdentity(&cb, id.out()), S_OK);
    ASSERT_TRUE(id.get());
    ASSERT_GT(cb, 0u);
    ASSERT_EQ(session->OpenEntry(cb, id.get(), nullptr, kBestAccess, type, identity.out()), S_OK);
    ASSERT_TRUE(identity);
  }

  // Opens the session's identity and asks it for `iid` (IMAPIProp or IMailUser).
  void OpenIdentityAs(IMAPISession* session, REFIID iid, Ref<IMAPIProp>& prop) {
    Ref<IUnknown> identity;
    ULONG type = 0;
    ASSERT_NO_FATAL_FAILURE(OpenIdentity(session, identity, &type));
    ASSERT_EQ(identity->QueryInterface(iid, prop.outVoid()), S_OK);
  }

  // The texts GetProps answers for `tags`, one per value handed back.
  static Texts TextsOf(IMAPIProp* prop, Tags& tags, HRESULT expected = S_OK) {
    ULONG count = 0;
    Buffer<SPropValue> values;
    EXPECT_EQ(prop->GetProps(tags.get(), 0, &count, values.out()), expected);
    Texts texts;
    for (ULONG i = 0; values && i < count; ++i) texts.push_back(Str(values.get()[i]));
    return texts;
  }

  void Uninit() {
    if (initialized_) M().Uninitialize();
    initialized_ = false;
  }

  int objects_ = 0, buffers_ = 0, misuses_ = 0, inits_ = 0;
  int expectedMisuses_ = 0;
  bool initialized_ = false;
};

// ---- how the provider is reached ----

TEST_F(MapiProvider, IsTheDefaultMailClientThatMapi32Loads) {
  char name[64] = {};
  LONG size = sizeof name;
  ASSERT_EQ(RegQueryValueA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", name, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Orvella Sandbox Mail");

  HMODULE provider = GetModuleHandleA("orvl_mapi_provider.dll");
  ASSERT_TRUE(provider);
  // Plain names only: Wine asks for "MAPIInitialize", never "MAPIInitialize@4".
  for (const char* plain : {"MAPIInitialize", "MAPIUninitialize", "MAPIAdminProfiles", "MAPILogonEx",
                            "MAPIAllocateBuffer", "MAPIAllocateMore", "MAPIFreeBuffer", "FreeProws"})
    EXPECT_TRUE(GetProcAddress(provider, plain)) << plain;
  EXPECT_FALSE(GetProcAddress(provider, "MAPIInitialize@4"));
  EXPECT_FALSE(GetProcAddress(provider, "SandboxMapi_ReadLog@8"));
}

TEST_F(MapiProvider, Mapi32OrdinalsAreTheEntryPointsTheModuleImports) {
  // The module imports these by ordinal; they must be the same functions as the names.
  struct Entry {
    int ordinal;
    const char* name;
  };
  for (const Entry& e : {Entry{11, "MAPILogonEx"}, Entry{17, "MAPIFreeBuffer"}, Entry{19, "MAPIAdminProfiles"},
                         Entry{21, "MAPIInitialize"}, Entry{23, "MAPIUninitialize"}, Entry{140, "FreeProws@4"}}) {
    FARPROC byOrdinal = GetProcAddress(M().module, MAKEINTRESOURCEA(e.ordinal));
    ASSERT_TRUE(byOrdinal) << e.ordinal;
    EXPECT_EQ(reinterpret_cast<void*>(byOrdinal), reinterpret_cast<void*>(GetProcAddress(M().module, e.name)))
        << e.name;
  }
}

// ---- MAPIInitialize ----

TEST_F(MapiProvider, InitializeAnswersPerKindOfInitStructure) {
  ASSERT_TRUE(MapiFixture::SetInit(kUnknownFlags));
  MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS | kMapiNoCoinit};
  EXPECT_EQ(M().Initialize(&init), kUnknownFlags);
  EXPECT_EQ(SandboxMapi::InitCount(), inits_);  // a failed init needs no uninit

  init.ulFlags = MAPI_MULTITHREAD_NOTIFICATIONS;
  EXPECT_EQ(M().Initialize(&init), S_OK);
  EXPECT_EQ(SandboxMapi::InitCount(), inits_ + 1);
  M().Uninitialize();

  EXPECT_EQ(M().Initialize(nullptr), S_OK);
  M().Uninitialize();

  // Read afresh at each call.
  ASSERT_TRUE(MapiFixture::SetInit(std::nullopt, E_OUTOFMEMORY, E_FAIL));
  init.ulFlags = kMapiNoCoinit;
  EXPECT_EQ(M().Initialize(&init), S_OK);
  M().Uninitialize();
  init.ulFlags = 0;
  EXPECT_EQ(M().Initialize(&init), E_OUTOFMEMORY);
  EXPECT_EQ(M().Initialize(nullptr), E_FAIL);

  EXPECT_EQ(SandboxMapi::Log(), Lines({"MAPIInitialize flags=9 -> 80040106", "MAPIInitialize flags=1 -> 0",
                                       "MAPIUninitialize", "MAPIInitialize null -> 0", "MAPIUninitialize",
                                       "MAPIInitialize flags=8 -> 0", "MAPIUninitialize",
                                       "MAPIInitialize flags=0 -> 8007000e", "MAPIInitialize null -> 80004005"}));
}

TEST_F(MapiProvider, CallsBeforeInitializeAreRefused) {
  ASSERT_GE(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  Ref<IProfAdmin> admin;
  EXPECT_EQ(M().AdminProfiles(0, admin.out()), kMapiENotInitialized);
  EXPECT_FALSE(admin);
  Ref<IMAPISession> session;
  EXPECT_EQ(M().LogonEx(0, const_cast<LPSTR>("Alpha"), nullptr, MAPI_EXTENDED, session.out()), kMapiENotInitialized);
  EXPECT_FALSE(session);
}

// ---- profile table ----

TEST_F(MapiProvider, ProfileTableHonoursColumnsAndMarksMissingValues) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_EQ(MapiFixture::AddProfile(std::nullopt, false), 1);
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Gamma"), std::nullopt), 2);
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    Tags columns{PR_DEFAULT_PROFILE, PR_DISPLAY_NAME_A};
    ASSERT_EQ(table->SetColumns(columns.get(), TBL_BATCH), S_OK);
    ASSERT_EQ(table->QueryRows(100, 0, rows.out()), S_OK);
    ASSERT_TRUE(rows.get());
    ASSERT_EQ(rows->cRows, 3u);
    for (ULONG i = 0; i < 3; ++i) ASSERT_EQ(rows->aRow[i].cValues, 2u);

    const SPropValue* r0 = rows->aRow[0].lpProps;
    EXPECT_EQ(r0[0].ulPropTag, PR_DEFAULT_PROFILE);
    EXPECT_EQ(r0[0].Value.b, 1);
    EXPECT_EQ(r0[1].ulPropTag, PR_DISPLAY_NAME_A);
    EXPECT_EQ(Str(r0[1]), "Alpha");

    const SPropValue* r1 = rows->aRow[1].lpProps;
    EXPECT_EQ(r1[0].ulPropTag, PR_DEFAULT_PROFILE);
    EXPECT_EQ(r1[0].Value.b, 0);
    EXPECT_EQ(r1[1].ulPropTag, 0x3001000Au);
    EXPECT_EQ(r1[1].Value.err, MAPI_E_NOT_FOUND);

    const SPropValue* r2 = rows->aRow[2].lpProps;
    EXPECT_EQ(r2[0].ulPropTag, 0x3D04000Au);
    EXPECT_EQ(r2[0].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(Str(r2[1]), "Gamma");

    // The set, one block per row and one per string.
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_ + 1 + 3 + 2);
    rows.Free();
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_);
  }
  Uninit();
  // Wine's mapi32 frees a row set with its own FreeProws: one MAPIFreeBuffer per row, then the set.
  EXPECT_EQ(SandboxMapi::Log(),
            Lines({"MAPIInitialize flags=1 -> 0", "MAPIAdminProfiles flags=0 -> 0", "ProfAdmin.GetProfileTable flags=0 -> 0",
                   "Table.SetColumns tags=3d04000b,3001001e flags=2 -> 0", "Table.QueryRows count=100 flags=0 -> 0 rows=3",
                   "MAPIFreeBuffer", "MAPIFreeBuffer", "MAPIFreeBuffer", "MAPIFreeBuffer", "Release Table refs=0",
                   "Release ProfAdmin refs=0", "MAPIUninitialize"}));
}

TEST_F(MapiProvider, ProfileTableDefaultColumnsAreNameThenDefault) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    ASSERT_EQ(rows->aRow[0].cValues, 2u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_DISPLAY_NAME_A);
    EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PR_DEFAULT_PROFILE);
  }
  Uninit();
}

TEST_F(MapiProvider, QueryRowsAdvancesFromTheCurrentPosition) {
  for (const char* name : {"Alpha", "Beta", "Gamma"}) ASSERT_GE(MapiFixture::AddProfile(std::string(name)), 0);
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    Tags columns{PR_DISPLAY_NAME_A};
    ASSERT_EQ(table->SetColumns(columns.get(), 0), S_OK);
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 3u);

    for (const Texts& batch : {Texts{"Alpha", "Beta"}, Texts{"Gamma"}, Texts{}}) {
      ASSERT_EQ(table->QueryRows(2, 0, rows.out()), S_OK);
      EXPECT_EQ(Column(rows, 0), batch);
    }

    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 1, nullptr), S_OK);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(table->QueryRows(1, TBL_NOADVANCE, rows.out()), S_OK);
      EXPECT_EQ(Column(rows, 0), Texts{"Beta"});
    }
  }
  Uninit();
  ExpectLogHas({"Table.QueryRows count=2 flags=0 -> 0 rows=2", "Table.QueryRows count=2 flags=0 -> 0 rows=1",
                "Table.QueryRows count=2 flags=0 -> 0 rows=0", "Table.QueryRows count=1 flags=1 -> 0 rows=1",
                "Table.GetRowCount flags=0 -> 0 count=3"});
}

TEST_F(MapiProvider, NoProfilesGiveAnEmptyRowSet) {
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    ASSERT_EQ(table->QueryRows(100, 0, rows.out()), S_OK);
    ASSERT_TRUE(rows.get());
    EXPECT_EQ(rows->cRows, 0u);
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_ + 1);
  }
  Uninit();
  EXPECT_TRUE(SandboxMapi::Has("Table.QueryRows count=100 flags=0 -> 0 rows=0"));
}

TEST_F(MapiProvider, ProfileStepsFailOnRequest) {
  const HRESULT failure = static_cast<HRESULT>(0x80040115L);
  struct Step {
    const char* name;
    const char* failedLine;
  };
  for (const Step& step : {Step{"FailAdminProfiles", "MAPIAdminProfiles flags=0 -> 80040115"},
                           Step{"FailGetProfileTable", "ProfAdmin.GetProfileTable flags=0 -> 80040115"},
                           Step{"FailProfileSetColumns", "Table.SetColumns tags=3001001e,3d04000b flags=0 -> 80040115"},
                           Step{"FailProfileQueryRows", "Table.QueryRows count=100 flags=0 -> 80040115 rows=0"}}) {
    SCOPED_TRACE(step.name);
    ASSERT_TRUE(MapiFixture::Clear());
    ASSERT_GE(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
    ASSERT_TRUE(MapiFixture::SetStep(step.name, failure));
    SandboxMapi::ResetLog();
    ASSERT_NO_FATAL_FAILURE(InitOnce());
    HRESULT last = S_OK;
    {
      Ref<IProfAdmin> admin;
      Ref<IMAPITable> table;
      Tags columns{PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE};
      RowSet rows;
      last = UpToFirstFailure({[&] { return Produced(M().AdminProfiles(0, admin.out()), admin); },
                               [&] { return Produced(admin->GetProfileTable(0, table.out()), table); },
                               [&] { return table->SetColumns(columns.get(), 0); },
                               [&] { return Produced(table->QueryRows(100, 0, rows.out()), rows); }});
    }
    Uninit();
    EXPECT_EQ(last, failure);
    EXPECT_TRUE(SandboxMapi::Has(step.failedLine)) << SandboxMapi::Log();
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_);
  }
  // Zero means "works".
  ASSERT_TRUE(MapiFixture::SetStep("FailAdminProfiles", S_OK));
  ASSERT_EQ(Init(), S_OK);
  {
    Ref<IProfAdmin> admin;
    EXPECT_EQ(M().AdminProfiles(0, admin.out()), S_OK);
  }
  M().Uninitialize();
}

TEST_F(MapiProvider, LongStringsSurviveTheTableAndTheLogon) {
  const std::string longName(100000, 'n');
  const std::string mediumName = std::string(4990, 'm') + "0123456789";
  ASSERT_EQ(MapiFixture::AddProfile(mediumName, false), 0);
  ASSERT_EQ(MapiFixture::AddProfile(longName, true), 1);
  ASSERT_TRUE(MapiFixture::SetIdentity(1, mediumName, std::nullopt, std::nullopt, longName));
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    EXPECT_EQ(Column(rows, 0), (Texts{mediumName, longName}));

    // Profile names match without regard to case.
    std::string upper(longName.size(), 'N');
    Ref<IMAPISession> session;
    ASSERT_EQ(M().LogonEx(0, &upper[0], nullptr, MAPI_EXTENDED, session.out()), S_OK);
    Ref<IMAPIProp> prop;
    ASSERT_NO_FATAL_FAILURE(OpenIdentityAs(session.get(), kIidIMAPIProp, prop));
    Tags tags{PR_DISPLAY_NAME_A, kPrSmtpAddressA};
    EXPECT_EQ(TextsOf(prop.get(), tags), (Texts{mediumName, longName}));
  }
  Uninit();
  EXPECT_TRUE(SandboxMapi::Has("MAPILogonEx ui=00000000 profile=\"" + std::string(longName.size(), 'N') +
                               "\" password=null flags=20 -> 0"));
}

// ---- logon ----

TEST_F(MapiProvider, LogonFindsProfilesAndRecordsTheCall) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Beta"), false), 1);
  ASSERT_TRUE(MapiFixture::SetIdentity(1, std::string("Beta User"), std::nullopt, std::nullopt, std::nullopt));
  ASSERT_NO_FATAL_FAILURE(InitOnce());
  {
    Ref<IMAPISession> session;
    char profile[] = "beta", password[] = "secret";
    EXPECT_EQ(M().LogonEx(0x00010020, profile, password, MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_EXTENDED,
                          session.out()),
              S_OK);
    EXPECT_TRUE(session);

    Ref<IMAPISession> none;
    char unknown[] = "Nope";
    EXPECT_EQ(M().LogonEx(0, unknown, nullptr, MAPI_EXTENDED, none.out()), kLogonFailed);
    EXPECT_FALSE(none);
    char empty[] = "";
    EXPECT_EQ(M().LogonEx(0, empty, nullptr, MAPI_EXTENDED, none.out()), kLogonFailed);
    EXPECT_FALSE(none);

    // An empty name goes to the profile the fixture names.
    ASSERT_TRUE(MapiFixture::SetLogonEmptyProfile(1));
    Ref<IMAPISession> byDefault;
    ASSERT_EQ(M().LogonEx(0, nullptr, nullptr, MAPI_EXTENDED | MAPI_USE_DEFAULT, byDefault.out()), S_OK);
    Ref<IMAPIProp> prop;
    ASSERT_NO_FATAL_FAILURE(OpenIdentityAs(byDefault.get(), kIidIMAPIProp, prop));
    Tags tags{PR_DISPLAY_NAME_A};
    EXPECT_EQ(TextsOf(prop.get(), tags), Texts{"Beta User"});

    ASSERT_TRUE(MapiFixture::SetLogonResult(0, static_cast<HRESULT>(0x80040113L)));
    char alpha[] = "Alpha";
    EXPECT_EQ(M().LogonEx(0, alpha, nullptr, MAPI_EXTENDED, none.out()), static_cast<HRESULT>(0x80040113L));
    EXPECT_FALSE(none);
  }
  Uninit();
  ExpectLogHas({"MAPILogonEx ui=00010020 profile=\"beta\" password=\"secret\" flags=23 -> 0",
                "MAPILogonEx ui=00000000 profile=\"Nope\" password=null flags=20 -> 80040111",
                "MAPILogonEx ui=00000000 profile=\"\" password=null flags=20 -> 80040111",
                "MAPILogonEx ui=00000000 profile=null password=null flags=60 -> 0",
                "MAPILogonEx ui=00000000 profile=\"Alpha\" password=null flags=20 -> 80040113"});
}

TEST_F(MapiProvider, LogoffEndsTheSession) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
  Ref<IMAPITable> table;
  EXPECT_EQ(session->GetMsgStoresTable(0, table.out()), kMapiEEndOfSession);
  EXPECT_FALSE(table);
  EXPECT_EQ(session.Release(), 0u);
  Uninit();
  ExpectLogHas({"Session.Logoff ui=0 flags=0", "Session.GetMsgStoresTable flags=0 -> 80040200",
                "Release Session refs=0"});
}

// ---- message stores ----

class StoreTable : public MapiProvider {
 protected:
  void SetUp() override {
    MapiProvider::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
    ASSERT_EQ(MapiFixture::AddStore(0, std::string("Personal Folders"), false), 0);
    ASSERT_EQ(MapiFixture::AddStore(0, std::string("Microsoft Exchange Server"), true), 1);
    ASSERT_EQ(MapiFixture::AddStore(0, std::nullopt, std::nullopt), 2);
    ASSERT_EQ(MapiFixture::AddStore(0, std::string("Archive"), false), 3);
  }

  static SRestriction DefaultStoreIs(SPropValue& value, bool isDefault) {
    value = SPropValue();
    value.ulPropTag = PR_DEFAULT_STORE;
    value.Value.b = isDefault ? 1 : 0;
    SRestriction res = {};
    res.rt = RES_PROPERTY;
    res.res.resProperty.relop = RELOP_EQ;
    res.res.resProperty.ulPropTag = PR_DEFAULT_STORE;
    res.res.resProperty.lpProp = &value;
    return res;
  }
};

TEST_F(StoreTable, RestrictionOnDefaultStoreFiltersRows) {
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  {
    Ref<IMAPITable> table;
    ASSERT_EQ(session->GetMsgStoresTable(0, table.out()), S_OK);
    Tags columns{PR_ENTRYID, PR_PROVIDER_DISPLAY_A, PR_DEFAULT_STORE};
    ASSERT_EQ(table->SetColumns(columns.get(), 0), S_OK);
    SPropValue value;
    SRestriction res = DefaultStoreIs(value, true);
    ASSERT_EQ(table->Restrict(&res, 0), S_OK);
    RowSet rows;
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    const SPropValue* row = rows->aRow[0].lpProps;
    EXPECT_EQ(row[0].ulPropTag, PR_ENTRYID);
    EXPECT_GT(row[0].Value.bin.cb, 4u);
    EXPECT_TRUE(row[0].Value.bin.lpb);
    EXPECT_EQ(Str(row[1]), "Microsoft Exchange Server");
    EXPECT_EQ(row[2].Value.b, 1);

    // Rows lacking the property never match.
    res = DefaultStoreIs(value, false);
    ASSERT_EQ(table->Restrict(&res, 0), S_OK);
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    EXPECT_EQ(Column(rows, 1), (Texts{"Personal Folders", "Archive"}));

    ASSERT_EQ(table->Restrict(nullptr, 0), S_OK);
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    ASSERT_EQ(rows->cRows, 4u);
    EXPECT_EQ(rows->aRow[2].lpProps[1].ulPropTag, 0x3006000Au);
    EXPECT_EQ(rows->aRow[2].lpProps[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(rows->aRow[2].lpProps[2].ulPropTag, 0x3400000Au);
    // Each store has an entry id of its own.
    const SBinary& a = rows->aRow[0].lpProps[0].Value.bin;
    const SBinary& b = rows->aRow[1].lpProps[0].Value.bin;
    EXPECT_FALSE(a.cb == b.cb && std::memcmp(a.lpb, b.lpb, a.cb) == 0);

    SRestriction both = {};
    both.rt = RES_AND;
    EXPECT_EQ(table->Restrict(&both, 0), MAPI_E_TOO_COMPLEX);
  }
  session.Release();
  Uninit();
  ExpectLogHas({"Session.GetMsgStoresTable flags=0 -> 0", "Table.SetColumns tags=0fff0102,3006001e,3400000b flags=0 -> 0",
                "Table.Restrict prop=3400000b relop=4 value=1 flags=0 -> 0",
                "Table.Restrict prop=3400000b relop=4 value=0 flags=0 -> 0", "Table.Restrict null flags=0 -> 0",
                "Table.Restrict type=0 flags=0 -> 80040117"});
  EXPECT_EQ(SandboxMapi::CallCount("Table.QueryRows"), 3);
}

TEST_F(StoreTable, StoreStepsFailOnRequestAndOnlyThere) {
  const HRESULT failure = static_cast<HRESULT>(0x8004011DL);
  for (const char* step : {"FailGetMsgStoresTable", "FailStoreSetColumns", "FailRestrict", "FailStoreQueryRows"}) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(MapiFixture::SetStep(step, failure));
    // The profile table's steps must not leak into the store table.
    ASSERT_TRUE(MapiFixture::SetStep("FailProfileSetColumns", E_FAIL));
    ASSERT_TRUE(MapiFixture::SetStep("FailProfileQueryRows", E_FAIL));
    HRESULT last = S_OK;
    {
      Ref<IMAPISession> session;
      ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
      Ref<IMAPITable> table;
      Tags columns{PR_ENTRYID, PR_DEFAULT_STORE};
      SPropValue value;
      SRestriction res = DefaultStoreIs(value, true);
      RowSet rows;
      last = UpToFirstFailure({[&] { return Produced(session->GetMsgStoresTable(0, table.out()), table); },
                               [&] { return table->SetColumns(columns.get(), 0); },
                               [&] { return table->Restrict(&res, 0); },
                               [&] { return Produced(table->QueryRows(1, 0, rows.out()), rows); }});
    }
    Uninit();
    EXPECT_EQ(last, failure);
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_);
    ASSERT_TRUE(MapiFixture::SetStep(step, S_OK));
  }
}

TEST_F(StoreTable, ProfileTableIgnoresStoreSteps) {
  ASSERT_TRUE(MapiFixture::SetStep("FailStoreSetColumns", E_FAIL));
  ASSERT_TRUE(MapiFixture::SetStep("FailStoreQueryRows", E_FAIL));
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    Tags columns{PR_DISPLAY_NAME_A};
    EXPECT_EQ(table->SetColumns(columns.get(), 0), S_OK);
    EXPECT_EQ(table->QueryRows(5, 0, rows.out()), S_OK);
  }
  Uninit();
}

// ---- identity ----

TEST_F(MapiProvider, IdentityGivesItsPropsInTagOrder) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_TRUE(MapiFixture::SetIdentity(0, std::string("John Doe"), std::string("/o=Dorvane/cn=jdoe"),
                                       std::string("jdoe"), std::string("john.doe@dorvane.example")));
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  {
    ULONG cb = 0;
    Buffer<ENTRYID> id;
    ASSERT_EQ(session->QueryIdentity(&cb, id.out()), S_OK);
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_ + 1);
    ULONG type = 0;
    Ref<IUnknown> unknown;
    ASSERT_EQ(session->OpenEntry(cb, id.get(), nullptr, kBestAccess, &type, unknown.out()), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MAILUSER));
    Ref<IMailUser> user;
    ASSERT_EQ(unknown->QueryInterface(kIidIMailUser, user.outVoid()), S_OK);

    Tags all{PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A, PR_ACCOUNT_A, kPrSmtpAddressA};
    ULONG count = 0;
    Buffer<SPropValue> values;
    ASSERT_EQ(user->GetProps(all.get(), 0, &count, values.out()), S_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(values.get()[0].ulPropTag, PR_DISPLAY_NAME_A);
    EXPECT_EQ(Str(values.get()[0]), "John Doe");
    EXPECT_EQ(Str(values.get()[1]), "/o=Dorvane/cn=jdoe");
    EXPECT_EQ(Str(values.get()[2]), "jdoe");
    EXPECT_EQ(values.get()[3].ulPropTag, kPrSmtpAddressA);
    EXPECT_EQ(Str(values.get()[3]), "john.doe@dorvane.example");
    values.Free();

    // Missing values come back as errors, in the asked order, with a warning.
    ASSERT_TRUE(MapiFixture::SetIdentity(0, std::string("John Doe"), std::nullopt, std::nullopt,
                                         std::string("john.doe@dorvane.example")));
    Tags reordered{kPrSmtpAddressA, PR_ACCOUNT_A, PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A};
    ASSERT_EQ(user->GetProps(reordered.get(), 0, &count, values.out()), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(Str(values.get()[0]), "john.doe@dorvane.example");
    EXPECT_EQ(values.get()[1].ulPropTag, 0x3A00000Au);
    EXPECT_EQ(values.get()[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(Str(values.get()[2]), "John Doe");
    EXPECT_EQ(values.get()[3].ulPropTag, 0x3003000Au);
    EXPECT_EQ(values.get()[3].Value.err, MAPI_E_NOT_FOUND);
    values.Free();

    // A Unicode caller gets the text converted.
    Tags wide{PROP_TAG(PT_UNICODE, 0x3001)};
    ASSERT_EQ(user->GetProps(wide.get(), MAPI_UNICODE, &count, values.out()), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(values.get()[0].ulPropTag, static_cast<ULONG>(PROP_TAG(PT_UNICODE, 0x3001)));
    EXPECT_EQ(std::wstring(values.get()[0].Value.lpszW), L"John Doe");
    values.Free();

    // No tag array: every prop the identity has.
    ASSERT_EQ(user->GetProps(nullptr, 0, &count, values.out()), S_OK);
    EXPECT_EQ(count, 2u);
  }
  session.Release();
  Uninit();
  ExpectLogHas({"Session.QueryIdentity -> 0", "Session.OpenEntry flags=10 -> 0",
                "MailUser.QueryInterface iid=IMailUser -> 0",
                "MailUser.GetProps tags=3001001e,3003001e,3a00001e,39fe001e flags=0 -> 0",
                "MailUser.GetProps tags=39fe001e,3a00001e,3001001e,3003001e flags=0 -> 40380",
                "MailUser.GetProps tags=3001001f flags=80000000 -> 0", "MailUser.GetProps tags=null flags=0 -> 0"});
}

TEST_F(MapiProvider, IdentityThatIsNoMailUserRefusesTheInterface) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_TRUE(MapiFixture::SetIdentity(0, std::string("Room 12"), std::nullopt, std::nullopt, std::nullopt));
  ASSERT_TRUE(MapiFixture::SetIdentityNotMailUser(0));
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  {
    Ref<IUnknown> identity;
    ULONG type = 0;
    ASSERT_NO_FATAL_FAILURE(OpenIdentity(session.get(), identity, &type));
    void* user = reinterpret_cast<void*>(1);  // must be cleared on failure
    EXPECT_EQ(identity->QueryInterface(kIidIMailUser, &user), E_NOINTERFACE);
    EXPECT_EQ(user, nullptr);
    Ref<IMAPIProp> prop;
    ASSERT_EQ(identity->QueryInterface(kIidIMAPIProp, prop.outVoid()), S_OK);
    Ref<IUnknown> unknown;
    EXPECT_EQ(identity->QueryInterface(kIidIUnknown, unknown.outVoid()), S_OK);
    Ref<IMAPITable> notATable;
    EXPECT_EQ(identity->QueryInterface(kIidIMAPITable, notATable.outVoid()), E_NOINTERFACE);

    // Asking OpenEntry for the interface directly fails the same way.
    ULONG cb = 0;
    Buffer<ENTRYID> id;
    ASSERT_EQ(session->QueryIdentity(&cb, id.out()), S_OK);
    Ref<IUnknown> direct;
    EXPECT_EQ(session->OpenEntry(cb, id.get(), &kIidIMailUser, 0, &type, direct.out()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_FALSE(direct);
  }
  session.Release();
  Uninit();
  ExpectLogHas({"MailUser.QueryInterface iid=IMailUser -> 80004002", "MailUser.QueryInterface iid=IMAPIProp -> 0"});
}

TEST_F(MapiProvider, IdentityStepsFailOnRequest) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_TRUE(MapiFixture::SetIdentity(0, std::string("John Doe"), std::nullopt, std::nullopt, std::nullopt));
  const HRESULT failure = static_cast<HRESULT>(0x80040115L);
  for (const char* step : {"FailQueryIdentity", "FailOpenEntry", "FailQueryInterface", "FailGetProps"}) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(MapiFixture::SetStep(step, failure));
    HRESULT last = S_OK;
    {
      Ref<IMAPISession> session;
      ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
      ULONG cb = 0;
      Buffer<ENTRYID> id;
      ULONG type = 0;
      Ref<IUnknown> identity;
      Ref<IMailUser> user;
      Tags tags{PR_DISPLAY_NAME_A};
      ULONG count = 7;
      Buffer<SPropValue> values;
      last = UpToFirstFailure(
          {[&] { return Produced(session->QueryIdentity(&cb, id.out()), id); },
           [&] {
             return Produced(session->OpenEntry(cb, id.get(), nullptr, kBestAccess, &type, identity.out()), identity);
           },
           [&] { return Produced(identity->QueryInterface(kIidIMailUser, user.outVoid()), user); },
           [&] {
             const HRESULT hr = user->GetProps(tags.get(), 0, &count, values.out());
             EXPECT_EQ(count, 0u);  // cleared on failure as well
             return Produced(hr, values);
           }});
    }
    Uninit();
    EXPECT_EQ(last, failure);
    ASSERT_TRUE(MapiFixture::SetStep(step, S_OK));
  }
}

TEST_F(MapiProvider, OpenEntryRefusesAWrongEntryId) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  {
    ULONG cb = 0;
    Buffer<ENTRYID> id;
    ASSERT_EQ(session->QueryIdentity(&cb, id.out()), S_OK);
    ULONG type = 0;
    Ref<IUnknown> identity;
    EXPECT_EQ(session->OpenEntry(cb - 1, id.get(), nullptr, 0, &type, identity.out()), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(identity);
    EXPECT_EQ(session->OpenEntry(0, nullptr, nullptr, 0, &type, identity.out()), MAPI_E_NOT_FOUND);
  }
  session.Release();
  Uninit();
  EXPECT_TRUE(SandboxMapi::Has("Session.OpenEntry flags=0 -> 8004010f"));
}

TEST_F(MapiProvider, FixtureIsReadAfreshAtEachCall) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_TRUE(MapiFixture::SetIdentity(0, std::string("First"), std::nullopt, std::nullopt, std::nullopt));
  Ref<IMAPISession> session;
  ASSERT_NO_FATAL_FAILURE(LogOn("Alpha", session));
  {
    Ref<IMAPIProp> prop;
    ASSERT_NO_FATAL_FAILURE(OpenIdentityAs(session.get(), kIidIMAPIProp, prop));
    Tags tags{PR_DISPLAY_NAME_A};
    EXPECT_EQ(TextsOf(prop.get(), tags), Texts{"First"});

    ASSERT_TRUE(MapiFixture::SetProfileString(0, "DisplayName", std::string("Second")));
    EXPECT_EQ(TextsOf(prop.get(), tags), Texts{"Second"});

    ASSERT_TRUE(MapiFixture::SetStep("FailGetProps", E_FAIL));
    EXPECT_EQ(TextsOf(prop.get(), tags, E_FAIL), Texts{});
    ASSERT_TRUE(MapiFixture::SetStep("FailGetProps", S_OK));
    EXPECT_EQ(TextsOf(prop.get(), tags), Texts{"Second"});
  }
  session.Release();
  Uninit();
}

// ---- reference counts and memory ----

TEST_F(MapiProvider, ObjectsLiveUntilTheirLastRelease) {
  ASSERT_EQ(MapiFixture::AddProfile(std::string("Alpha"), true), 0);
  ASSERT_NO_FATAL_FAILURE(InitOnce());

  Ref<IProfAdmin> admin;
  ASSERT_EQ(M().AdminProfiles(0, admin.out()), S_OK);
  EXPECT_EQ(SandboxMapi::LiveObjects(), objects_ + 1);
  EXPECT_EQ(admin->AddRef(), 2u);
  EXPECT_EQ(admin->Release(), 1u);
  Ref<IMAPITable> table;
  ASSERT_EQ(admin->GetProfileTable(0, table.out()), S_OK);
  Ref<IUnknown> tableAgain;
  ASSERT_EQ(table->QueryInterface(kIidIUnknown, tableAgain.outVoid()), S_OK);
  EXPECT_EQ(tableAgain.get(), static_cast<IUnknown*>(table.get()));

  Ref<IMAPISession> session;
  char alpha[] = "Alpha";
  ASSERT_EQ(M().LogonEx(0, alpha, nullptr, MAPI_EXTENDED, session.out()), S_OK);
  Ref<IMAPISession> sessionAgain;
  ASSERT_EQ(session->QueryInterface(kIidIMAPISession, sessionAgain.outVoid()), S_OK);
  Ref<IUnknown> identity;
  ULONG type = 0;
  ASSERT_NO_FATAL_FAILURE(OpenIdentity(session.get(), identity, &type));
  EXPECT_EQ(SandboxMapi::LiveObjects(), objects_ + 4);

  EXPECT_EQ(tableAgain.Release(), 1u);
  EXPECT_EQ(SandboxMapi::LiveObjects(), objects_ + 4);
  EXPECT_EQ(table.Release(), 0u);
  EXPECT_EQ(SandboxMapi::LiveObjects(), objects_ + 3);
  EXPECT_EQ(admin.Release(), 0u);
  EXPECT_EQ(identity.Release(), 0u);
  EXPECT_EQ(sessionAgain.Release(), 1u);
  EXPECT_EQ(session.Release(), 0u);
  EXPECT_EQ(SandboxMapi::LiveObjects(), objects_);
  Uninit();

  ExpectLogHas({"Release ProfAdmin refs=1", "Release ProfAdmin refs=0", "Release Table refs=1", "Release Table refs=0",
                "Release Session refs=1", "Release Session refs=0", "Release MailUser refs=0",
                "Table.QueryInterface iid=IUnknown -> 0", "Session.QueryInterface iid=IMAPISession -> 0"});
}

TEST_F(MapiProvider, ReleasingAReleasedObjectIsCaught) {
  ASSERT_NO_FATAL_FAILURE(InitOnce());
  IProfAdmin* admin = nullptr;
  ASSERT_EQ(M().AdminProfiles(0, &admin), S_OK);
  EXPECT_EQ(admin->Release(), 0u);
  expectedMisuses_ = 2;
  // The provider keeps a released object's shell to catch exactly this.
  EXPECT_EQ(admin->Release(), 0u);
  Ref<IMAPITable> table;
  EXPECT_EQ(admin->GetProfileTable(0, table.out()), E_UNEXPECTED);
  EXPECT_FALSE(table);
  Uninit();
  ExpectLogHas({"Release ProfAdmin on released object", "ProfAdmin.GetProfileTable on released object"});
}

TEST_F(MapiProvider, FreeBufferFreesLinkedBlocksAndCatchesDoubleFrees) {
  void* root = nullptr;
  ASSERT_EQ(M().AllocateBuffer(64, &root), S_OK);
  void* more1 = nullptr;
  void* more2 = nullptr;
  ASSERT_EQ(M().AllocateMore(32, root, &more1), S_OK);
  ASSERT_EQ(M().AllocateMore(100000, more1, &more2), S_OK);  // linked through a linked block
  std::memset(more2, 0xAB, 100000);
  EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_ + 3);
  EXPECT_EQ(M().FreeBuffer(root), 0u);
  EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_);

  EXPECT_EQ(M().FreeBuffer(nullptr), 0u);
  expectedMisuses_ = 1;
  EXPECT_EQ(M().FreeBuffer(root), 0u);
  EXPECT_EQ(SandboxMapi::Log(), Lines({"MAPIFreeBuffer", "MAPIFreeBuffer null", "MAPIFreeBuffer invalid"}));
}

TEST_F(MapiProvider, ProvidersOwnFreeProwsFreesEveryRow) {
  // Wine's mapi32 does not forward FreeProws; a direct caller still gets a working one.
  auto freeProws = Proc<void(WINAPI*)(LPSRowSet)>(GetModuleHandleA("orvl_mapi_provider.dll"), "FreeProws");
  ASSERT_TRUE(freeProws);
  for (const char* name : {"Alpha", "Beta", "Gamma"}) ASSERT_GE(MapiFixture::AddProfile(std::string(name)), 0);
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    LPSRowSet raw = nullptr;  // freed by the provider's own FreeProws, not by RowSet
    ASSERT_EQ(table->QueryRows(10, 0, &raw), S_OK);
    ASSERT_EQ(raw->cRows, 3u);
    freeProws(raw);
    EXPECT_EQ(SandboxMapi::LiveBuffers(), buffers_);
  }
  Uninit();
  EXPECT_TRUE(SandboxMapi::Has("FreeProws rows=3"));
  EXPECT_EQ(SandboxMapi::CallCount("MAPIFreeBuffer"), 4);
}

TEST_F(MapiProvider, UnsupportedMethodsSayNoSupport) {
  ASSERT_NO_FATAL_FAILURE(InitOnce());
  {
    Ref<IProfAdmin> admin;
    ASSERT_EQ(M().AdminProfiles(0, admin.out()), S_OK);
    char name[] = "X";
    EXPECT_EQ(admin->DeleteProfile(name, 0), MAPI_E_NO_SUPPORT);
    LPMAPIERROR error = reinterpret_cast<LPMAPIERROR>(1);
    EXPECT_EQ(admin->GetLastError(MAPI_E_NO_SUPPORT, 0, &error), S_OK);
    EXPECT_EQ(error, nullptr);
  }
  Uninit();
  ExpectLogHas({"ProfAdmin.DeleteProfile -> 80040102", "ProfAdmin.GetLastError hr=80040102 -> 0"});
}

// ---- record ----

TEST_F(MapiProvider, ReadLogIsBoundedAndCountsCalls) {
  ASSERT_EQ(M().Initialize(nullptr), S_OK);
  M().Uninitialize();
  auto readLog = Proc<int(WINAPI*)(char*, int)>(GetModuleHandleA("orvl_mapi_provider.dll"), "SandboxMapi_ReadLog");
  ASSERT_TRUE(readLog);
  const std::string full = "MAPIInitialize null -> 0\nMAPIUninitialize\n";
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(readLog(small, 5), static_cast<int>(full.size()));
  EXPECT_STREQ(small, "MAPI");
  EXPECT_EQ(small[5], 'x');  // nothing past the given size
  EXPECT_EQ(readLog(nullptr, 0), static_cast<int>(full.size()));
  EXPECT_EQ(SandboxMapi::Log(), full);
  EXPECT_EQ(SandboxMapi::CallCount("MAPIInitialize"), 1);
  EXPECT_EQ(SandboxMapi::CallCount("MAPIUninitialize"), 1);
  EXPECT_EQ(SandboxMapi::CallCount("MAPI"), 0);
  SandboxMapi::ResetLog();
  EXPECT_EQ(SandboxMapi::Log(), "");
}

// The module shows the wait cursor while it waits on MAPI: the provider notes, per call, whether
// the calling thread's cursor was the system's wait cursor.
TEST_F(MapiProvider, RecordsWhetherEachCallerShowedTheWaitCursor) {
  const HCURSOR before = GetCursor();
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
  ASSERT_EQ(M().Initialize(nullptr), S_OK);
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  M().Uninitialize();
  SetCursor(nullptr);
  ASSERT_EQ(M().Initialize(nullptr), S_OK);
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
  M().Uninitialize();
  SetCursor(before);
  EXPECT_EQ(SandboxMapi::CursorLines(), (Texts{"wait MAPIInitialize null -> 0", "other MAPIUninitialize",
                                               "other MAPIInitialize null -> 0", "wait MAPIUninitialize"}));
  EXPECT_EQ(SandboxMapi::LinesWithoutWaitCursor(), (Texts{"MAPIUninitialize", "MAPIInitialize null -> 0"}));
  EXPECT_EQ(SandboxMapi::Log(), "MAPIInitialize null -> 0\nMAPIUninitialize\nMAPIInitialize null -> 0\nMAPIUninitialize\n");
  SandboxMapi::ResetLog();
  EXPECT_TRUE(SandboxMapi::CursorLines().empty());
}

TEST_F(MapiProvider, LogFileGetsEveryLine) {
  char dir[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
  char path[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(dir, "mpl", 0, path), 0u);
  ASSERT_TRUE(MapiFixture::SetLogFile(std::string(path)));
  ASSERT_EQ(M().Initialize(nullptr), S_OK);
  M().Uninitialize();
  ASSERT_TRUE(MapiFixture::SetLogFile(std::nullopt));
  ASSERT_EQ(M().Initialize(nullptr), S_OK);  // no longer written
  M().Uninitialize();

  std::string text;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char chunk[256];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  DeleteFileA(path);
  EXPECT_EQ(text, "MAPIInitialize null -> 0\r\nMAPIUninitialize\r\n");
}

// Quiet (for benchmarks), set before the provider's first call in the process: every value is read
// once, no log file is written, and the calls are still recorded in memory.
TEST_F(MapiProvider, QuietFixtureIsReadOnceAndWritesNoLogFile) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  const std::string log = std::string(folder) + "orvl_quiet_mapi.log";
  DeleteFileA(log.c_str());
  ASSERT_TRUE(MapiFixture::SetLogFile(log) && MapiFixture::SetQuiet(true));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round ? "after the fixture was told to refuse" : "first call");
    EXPECT_EQ(M().Initialize(nullptr), S_OK);
    M().Uninitialize();
    ASSERT_TRUE(MapiFixture::SetInit(std::nullopt, std::nullopt, kLogonFailed));
  }
  EXPECT_EQ(SandboxMapi::CallCount("MAPIInitialize"), 2);
  EXPECT_EQ(GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES) << "the quiet provider wrote its log file";
  DeleteFileA(log.c_str());
}

// ---- the demo's sample ----

TEST_F(MapiProvider, DemoFixtureDescribesThreeProfiles) {
  ASSERT_TRUE(MapiFixture::WriteDemo());
  {
    ProfileTable profiles;
    ASSERT_NO_FATAL_FAILURE(OpenProfiles(profiles));
    auto& [admin, table, rows] = profiles;
    ASSERT_EQ(table->QueryRows(10, 0, rows.out()), S_OK);
    ASSERT_EQ(Column(rows, 0), (Texts{"Exchange (Office)", "Personal Folders", "Broken profile"}));
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.b, 1);
    EXPECT_EQ(rows->aRow[1].lpProps[1].Value.b, 0);

    Ref<IMAPISession> broken;
    char brokenName[] = "Broken profile";
    EXPECT_EQ(M().LogonEx(0, brokenName, nullptr, MAPI_EXTENDED, broken.out()), kLogonFailed);

    struct Expect {
      const char* profile;
      HRESULT props;
      const char* provider;
    };
    for (const Expect& e : {Expect{"Exchange (Office)", S_OK, "Microsoft Exchange Server"},
                            Expect{"Personal Folders", MAPI_W_ERRORS_RETURNED, "Personal Folders"}}) {
      SCOPED_TRACE(e.profile);
      Ref<IMAPISession> session;
      ASSERT_EQ(M().LogonEx(0, const_cast<LPSTR>(e.profile), nullptr, MAPI_EXTENDED, session.out()), S_OK);
      Ref<IMAPITable> stores;
      ASSERT_EQ(session->GetMsgStoresTable(0, stores.out()), S_OK);
      Tags columns{PR_PROVIDER_DISPLAY_A, PR_DEFAULT_STORE};
      ASSERT_EQ(stores->SetColumns(columns.get(), 0), S_OK);
      RowSet storeRows;
      ASSERT_EQ(stores->QueryRows(10, 0, storeRows.out()), S_OK);
      ASSERT_EQ(Column(storeRows, 0), Texts{e.provider});
      EXPECT_EQ(storeRows->aRow[0].lpProps[1].Value.b, 1);

      Ref<IMAPIProp> user;
      ASSERT_NO_FATAL_FAILURE(OpenIdentityAs(session.get(), kIidIMailUser, user));
      Tags tags{PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A, PR_ACCOUNT_A, kPrSmtpAddressA};
      const Texts texts = TextsOf(user.get(), tags, e.props);
      ASSERT_EQ(texts.size(), 4u);
      EXPECT_EQ(texts[0], "John Doe");
      if (e.props == S_OK) {
        EXPECT_EQ(texts, (Texts{"John Doe", "/o=Dorvane/ou=Office/cn=Recipients/cn=jdoe", "jdoe", "john.doe@dorvane.example"}));
      }
    }
  }
  Uninit();
}

}  // namespace
