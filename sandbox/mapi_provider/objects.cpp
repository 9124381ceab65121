#include "objects.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "fixture_reader.h"
#include "recorder.h"

namespace sbx {
namespace {

// The object is still answering calls after its last Release: say so and stop.
#define SBX_ALIVE(method) \
  if (Released()) return OnReleased(method)

std::string ProfileKeyOf(const std::string& name) { return "Profiles\\" + name; }

// The last part of "Profiles\\001".
std::string LeafOf(const std::string& key) {
  size_t slash = key.rfind('\\');
  return slash == std::string::npos ? key : key.substr(slash + 1);
}

Prop StringProp(ULONG tag, std::string text) {
  Prop prop;
  prop.tag = tag;
  prop.text = std::move(text);
  return prop;
}

Prop BoolProp(ULONG tag, bool flag) {
  Prop prop;
  prop.tag = tag;
  prop.flag = flag;
  return prop;
}

Prop BinaryProp(ULONG tag, const std::string& bytes) {
  Prop prop;
  prop.tag = tag;
  prop.bytes.assign(4, 0);  // ENTRYID flags
  prop.bytes.insert(prop.bytes.end(), bytes.begin(), bytes.end());
  return prop;
}

void AddString(Row& row, const std::string& key, const char* value, ULONG tag) {
  if (std::optional<std::string> text = fx::String(key, value)) row.push_back(StringProp(tag, *text));
}

void AddBool(Row& row, const std::string& key, const char* value, ULONG tag) {
  if (std::optional<DWORD> flag = fx::Dword(key, value)) row.push_back(BoolProp(tag, *flag != 0));
}

std::vector<Row> ProfileRows() {
  std::vector<Row> rows;
  for (const std::string& name : fx::Subkeys("Profiles")) {
    const std::string key = ProfileKeyOf(name);
    Row row;
    AddString(row, key, "Name", PR_DISPLAY_NAME_A);
    AddBool(row, key, "Default", PR_DEFAULT_PROFILE);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<Row> StoreRows(const std::string& profileKey) {
  std::vector<Row> rows;
  const std::string storesKey = profileKey + "\\Stores";
  for (const std::string& name : fx::Subkeys(storesKey)) {
    const std::string key = storesKey + "\\" + name;
    Row row;
    row.push_back(BinaryProp(PR_ENTRYID, "ORVL-STORE:" + LeafOf(profileKey) + ":" + name));
    AddString(row, key, "Name", PR_DISPLAY_NAME_A);
    AddBool(row, key, "Default", PR_DEFAULT_STORE);
    AddString(row, key, "Provider", PR_PROVIDER_DISPLAY_A);
    rows.push_back(std::move(row));
  }
  return rows;
}

Row IdentityRow(const std::string& profileKey) {
  Row row;
  AddString(row, profileKey, "DisplayName", PR_DISPLAY_NAME_A);
  AddString(row, profileKey, "EmailAddress", PR_EMAIL_ADDRESS_A);
  AddString(row, profileKey, "Account", PR_ACCOUNT_A);
  AddString(row, profileKey, "SmtpAddress", kPrSmtpAddressA);
  return row;
}

std::vector<BYTE> IdentityEntryId(const std::string& profileKey) {
  return BinaryProp(PR_ENTRYID, "ORVL-USER:" + LeafOf(profileKey)).bytes;
}

const ULONG kProfileColumns[] = {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE};
const ULONG kStoreColumns[] = {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_DEFAULT_STORE, PR_PROVIDER_DISPLAY_A};
const ULONG kIdentityTags[] = {PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A, PR_ACCOUNT_A, kPrSmtpAddressA};

}  // namespace

// ---- ObjectBase ----

ObjectBase::ObjectBase(const char* kind) : kind_(kind) { ObjectCreated(); }

ULONG ObjectBase::AddRefImpl() {
  Guard guard;
  if (released_) return 0;
  return static_cast<ULONG>(++refs_);
}

ULONG ObjectBase::ReleaseImpl(bool* last) {
  *last = false;
  LONG refs = 0;
  {
    Guard guard;
    if (released_) {
      refs = -1;
    } else {
      refs = --refs_;
      if (refs == 0) {
        released_ = true;
        *last = true;
      }
    }
  }
  if (refs < 0) {
    RecordMisuse(std::string("Release ") + kind_ + " on released object");
    return 0;
  }
  Record(std::string("Release ") + kind_ + " refs=" + std::to_string(refs));
  if (*last) ObjectDestroyed();
  return static_cast<ULONG>(refs);
}

bool ObjectBase::Released() const {
  Guard guard;
  return released_;
}

HRESULT ObjectBase::OnReleased(const char* method) {
  RecordMisuse(std::string(kind_) + "." + method + " on released object");
  return E_UNEXPECTED;
}

HRESULT ObjectBase::NoSupport(const char* method) {
  if (Released()) return OnReleased(method);
  Call(std::string(method) + " -> " + Hex(MAPI_E_NO_SUPPORT));
  return MAPI_E_NO_SUPPORT;
}

HRESULT ObjectBase::LastError(HRESULT hr, LPMAPIERROR* error) {
  SBX_ALIVE("GetLastError");
  // No extended error text: MAPI allows a null MAPIERROR.
  if (error) *error = nullptr;
  Call("GetLastError hr=" + Hex(static_cast<ULONG>(hr)) + " -> 0");
  return error ? S_OK : MAPI_E_INVALID_PARAMETER;
}

void ObjectBase::Call(const std::string& text) { Record(std::string(kind_) + "." + text); }

HRESULT ObjectBase::QueryFrom(REFIID riid, void** ppv, IUnknown* self, const IID* const* iids,
                              int count) {
  SBX_ALIVE("QueryInterface");
  HRESULT hr = E_NOINTERFACE;
  if (!ppv) {
    hr = MAPI_E_INVALID_PARAMETER;
  } else {
    *ppv = nullptr;
    for (int i = 0; i < count; ++i)
      if (IsEqualGUID(riid, *iids[i])) {
        self->AddRef();
        *ppv = self;
        hr = S_OK;
        break;
      }
  }
  Call("QueryInterface iid=" + IidName(riid) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

// ---- Table ----

Table::Table(Kind kind, std::vector<Row> rows, std::vector<ULONG> columns)
    : Object("Table"), kind_(kind), rows_(std::move(rows)), columns_(std::move(columns)) {
  for (size_t i = 0; i < rows_.size(); ++i) view_.push_back(i);
}

STDMETHODIMP Table::QueryInterface(REFIID riid, LPVOID* ppv) {
  static const IID* const iids[] = {&kIidIUnknown, &kIidIMAPITable};
  return QueryFrom(riid, ppv, this, iids, 2);
}
void Table::FreeContents() {
  std::vector<Row>().swap(rows_);
  std::vector<size_t>().swap(view_);
  std::vector<ULONG>().swap(columns_);
}

STDMETHODIMP Table::Advise(ULONG, LPMAPIADVISESINK, ULONG*) { return NoSupport("Advise"); }
STDMETHODIMP Table::Unadvise(ULONG) { return NoSupport("Unadvise"); }
STDMETHODIMP Table::GetStatus(ULONG*, ULONG*) { return NoSupport("GetStatus"); }

STDMETHODIMP Table::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) {
  SBX_ALIVE("SetColumns");
  HRESULT hr = fx::StepFailure(kind_ == Kind::Profiles ? "FailProfileSetColumns" : "FailStoreSetColumns");
  std::string tags = "null";
  if (lpPropTagArray) tags = TagList(lpPropTagArray->aulPropTag, lpPropTagArray->cValues);
  if (hr == S_OK) {
    if (!lpPropTagArray)
      hr = MAPI_E_INVALID_PARAMETER;
    else
      columns_.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
  }
  Call("SetColumns tags=" + tags + " flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Table::QueryColumns(ULONG, LPSPropTagArray*) { return NoSupport("QueryColumns"); }

STDMETHODIMP Table::GetRowCount(ULONG ulFlags, ULONG* lpulCount) {
  SBX_ALIVE("GetRowCount");
  HRESULT hr = lpulCount ? S_OK : MAPI_E_INVALID_PARAMETER;
  if (lpulCount) *lpulCount = static_cast<ULONG>(view_.size());
  Call("GetRowCount flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)) +
       " count=" + std::to_string(view_.size()));
  return hr;
}

STDMETHODIMP Table::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) {
  SBX_ALIVE("SeekRow");
  HRESULT hr = S_OK;
  long long base = 0;
  if (bkOrigin == BOOKMARK_BEGINNING)
    base = 0;
  else if (bkOrigin == BOOKMARK_CURRENT)
    base = static_cast<long long>(position_);
  else if (bkOrigin == BOOKMARK_END)
    base = static_cast<long long>(view_.size());
  else
    hr = MAPI_E_INVALID_BOOKMARK;
  if (hr == S_OK) {
    long long target = base + lRowCount;
    if (target < 0) target = 0;
    if (target > static_cast<long long>(view_.size())) target = static_cast<long long>(view_.size());
    if (lplRowsSought) *lplRowsSought = static_cast<LONG>(target - base);
    position_ = static_cast<size_t>(target);
  }
  Call("SeekRow origin=" + std::to_string(bkOrigin) + " count=" + std::to_string(lRowCount) +
       " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Table::SeekRowApprox(ULONG, ULONG) { return NoSupport("SeekRowApprox"); }
STDMETHODIMP Table::QueryPosition(ULONG*, ULONG*, ULONG*) { return NoSupport("QueryPosition"); }
STDMETHODIMP Table::FindRow(LPSRestriction, BOOKMARK, ULONG) { return NoSupport("FindRow"); }

STDMETHODIMP Table::Restrict(LPSRestriction lpRestriction, ULONG ulFlags) {
  SBX_ALIVE("Restrict");
  HRESULT hr = fx::StepFailure("FailRestrict");
  std::string what;
  if (!lpRestriction) {
    what = "null";
    if (hr == S_OK) {
      view_.clear();
      for (size_t i = 0; i < rows_.size(); ++i) view_.push_back(i);
      position_ = 0;
    }
  } else if (lpRestriction->rt != RES_PROPERTY) {
    what = "type=" + std::to_string(lpRestriction->rt);
    if (hr == S_OK) hr = MAPI_E_TOO_COMPLEX;
  } else {
    const SPropertyRestriction& res = lpRestriction->res.resProperty;
    const bool boolValue = res.lpProp && PROP_TYPE(res.lpProp->ulPropTag) == PT_BOOLEAN;
    what = "prop=" + Hex8(res.ulPropTag) + " relop=" + std::to_string(res.relop) +
           " value=" + (boolValue ? std::string(res.lpProp->Value.b ? "1" : "0") : std::string("?"));
    if (hr == S_OK) {
      if (!res.lpProp)
        hr = MAPI_E_INVALID_PARAMETER;
      else if (!boolValue || PROP_TYPE(res.ulPropTag) != PT_BOOLEAN ||
               (res.relop != RELOP_EQ && res.relop != RELOP_NE))
        hr = MAPI_E_TOO_COMPLEX;
    }
    if (hr == S_OK) {
      const bool wanted = res.lpProp->Value.b != 0;
      view_.clear();
      for (size_t i = 0; i < rows_.size(); ++i) {
        const Prop* prop = FindProp(rows_[i], res.ulPropTag);
        if (!prop || PROP_TYPE(prop->tag) != PT_BOOLEAN) continue;  // lacking rows never match
        if ((prop->flag == wanted) == (res.relop == RELOP_EQ)) view_.push_back(i);
      }
      position_ = 0;
    }
  }
  Call("Restrict " + what + " flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Table::CreateBookmark(BOOKMARK*) { return NoSupport("CreateBookmark"); }
STDMETHODIMP Table::FreeBookmark(BOOKMARK) { return NoSupport("FreeBookmark"); }
STDMETHODIMP Table::SortTable(LPSSortOrderSet, ULONG) { return NoSupport("SortTable"); }
STDMETHODIMP Table::QuerySortOrder(LPSSortOrderSet*) { return NoSupport("QuerySortOrder"); }

HRESULT Table::AllocateRows(size_t first, size_t count, LPSRowSet* out) const {
  void* set = nullptr;
  const size_t bytes = offsetof(SRowSet, aRow) + (count ? count : 1) * sizeof(SRow);
  if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(bytes), &set))) return MAPI_E_NOT_ENOUGH_MEMORY;
  LPSRowSet rows = static_cast<LPSRowSet>(set);
  rows->cRows = 0;
  const ULONG columns = static_cast<ULONG>(columns_.size());
  // Misbehaviour switches, read once per call: fewer values than columns, values in other slots.
  const ULONG valuesPerRow = std::min<ULONG>(columns, fx::RootDword("RowValueCount").value_or(columns));
  const bool rotate = fx::RootDword("RotateValues").value_or(0) != 0;
  for (size_t i = 0; i < count; ++i) {
    void* props = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>((columns ? columns : 1) * sizeof(SPropValue)), &props)) ||
        FillValues(rows_[view_[first + i]], columns_.data(), columns, static_cast<SPropValue*>(props), props, rotate) < 0) {
      if (props) MAPIFreeBuffer(props);
      for (ULONG j = 0; j < rows->cRows; ++j) MAPIFreeBuffer(rows->aRow[j].lpProps);
      MAPIFreeBuffer(rows);
      return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    SRow& row = rows->aRow[rows->cRows++];
    row.ulAdrEntryPad = 0;
    row.cValues = valuesPerRow;
    row.lpProps = static_cast<LPSPropValue>(props);
  }
  *out = rows;
  return S_OK;
}

STDMETHODIMP Table::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) {
  SBX_ALIVE("QueryRows");
  if (lppRows) *lppRows = nullptr;
  HRESULT hr = fx::StepFailure(kind_ == Kind::Profiles ? "FailProfileQueryRows" : "FailStoreQueryRows");
  size_t count = 0;
  if (hr == S_OK && (!lppRows || lRowCount <= 0)) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput(kind_ == Kind::Profiles ? "ProfileQueryRows" : "StoreQueryRows")) {
    const size_t left = view_.size() - position_;
    // A misbehaving provider may hand back more rows than were asked for.
    const size_t asked = static_cast<size_t>(lRowCount) + fx::RootDword("ExtraRows").value_or(0);
    count = asked < left ? asked : left;
    hr = AllocateRows(position_, count, lppRows);
    if (hr == S_OK && !(ulFlags & TBL_NOADVANCE)) position_ += count;
    if (hr != S_OK) count = 0;
  }
  Call("QueryRows count=" + std::to_string(lRowCount) + " flags=" + Hex(ulFlags) + " -> " +
       Hex(static_cast<ULONG>(hr)) + " rows=" + std::to_string(count));
  return hr;
}

STDMETHODIMP Table::Abort() { return NoSupport("Abort"); }
STDMETHODIMP Table::ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) { return NoSupport("ExpandRow"); }
STDMETHODIMP Table::CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) { return NoSupport("CollapseRow"); }
STDMETHODIMP Table::WaitForCompletion(ULONG, ULONG, ULONG*) { return NoSupport("WaitForCompletion"); }
STDMETHODIMP Table::GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) {
  return NoSupport("GetCollapseState");
}
STDMETHODIMP Table::SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) { return NoSupport("SetCollapseState"); }

// ---- ProfAdmin ----

ProfAdmin::ProfAdmin() : Object("ProfAdmin") {}

STDMETHODIMP ProfAdmin::QueryInterface(REFIID riid, LPVOID* ppv) {
  static const IID* const iids[] = {&kIidIUnknown, &kIidIProfAdmin};
  return QueryFrom(riid, ppv, this, iids, 2);
}

STDMETHODIMP ProfAdmin::GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) {
  SBX_ALIVE("GetProfileTable");
  if (lppTable) *lppTable = nullptr;
  HRESULT hr = fx::StepFailure("FailGetProfileTable");
  if (hr == S_OK && !lppTable) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput("GetProfileTable"))
    *lppTable = new Table(Table::Kind::Profiles, ProfileRows(),
                          std::vector<ULONG>(std::begin(kProfileColumns), std::end(kProfileColumns)));
  Call("GetProfileTable flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP ProfAdmin::CreateProfile(LPTSTR, LPTSTR, ULONG_PTR, ULONG) { return NoSupport("CreateProfile"); }
STDMETHODIMP ProfAdmin::DeleteProfile(LPTSTR, ULONG) { return NoSupport("DeleteProfile"); }
STDMETHODIMP ProfAdmin::ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) {
  return NoSupport("ChangeProfilePassword");
}
STDMETHODIMP ProfAdmin::CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) { return NoSupport("CopyProfile"); }
STDMETHODIMP ProfAdmin::RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) {
  return NoSupport("RenameProfile");
}
STDMETHODIMP ProfAdmin::SetDefaultProfile(LPTSTR, ULONG) { return NoSupport("SetDefaultProfile"); }
STDMETHODIMP ProfAdmin::AdminServices(LPTSTR, LPTSTR, ULONG_PTR, ULONG, LPSERVICEADMIN*) {
  return NoSupport("AdminServices");
}

// ---- Session ----

Session::Session(std::string profileKey) : Object("Session"), profileKey_(std::move(profileKey)) {}

STDMETHODIMP Session::QueryInterface(REFIID riid, LPVOID* ppv) {
  static const IID* const iids[] = {&kIidIUnknown, &kIidIMAPISession};
  return QueryFrom(riid, ppv, this, iids, 2);
}
void Session::FreeContents() { std::string().swap(profileKey_); }

STDMETHODIMP Session::GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) {
  SBX_ALIVE("GetMsgStoresTable");
  if (lppTable) *lppTable = nullptr;
  HRESULT hr = loggedOff_ ? kMapiEEndOfSession : fx::StepFailure("FailGetMsgStoresTable");
  if (hr == S_OK && !lppTable) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput("GetMsgStoresTable"))
    *lppTable = new Table(Table::Kind::Stores, StoreRows(profileKey_),
                          std::vector<ULONG>(std::begin(kStoreColumns), std::end(kStoreColumns)));
  Call("GetMsgStoresTable flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Session::OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB*) {
  return NoSupport("OpenMsgStore");
}
STDMETHODIMP Session::OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) { return NoSupport("OpenAddressBook"); }
STDMETHODIMP Session::OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) {
  return NoSupport("OpenProfileSection");
}
STDMETHODIMP Session::GetStatusTable(ULONG, LPMAPITABLE*) { return NoSupport("GetStatusTable"); }

STDMETHODIMP Session::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                ULONG* lpulObjType, LPUNKNOWN* lppUnk) {
  SBX_ALIVE("OpenEntry");
  if (lppUnk) *lppUnk = nullptr;
  HRESULT hr = loggedOff_ ? kMapiEEndOfSession : fx::StepFailure("FailOpenEntry");
  if (hr == S_OK && (!lppUnk || !lpulObjType)) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK) {
    // Only the identity opens: anything else is a caller passing a wrong or truncated id.
    const std::vector<BYTE> identity = IdentityEntryId(profileKey_);
    if (!lpEntryID || cbEntryID != identity.size() ||
        std::memcmp(lpEntryID, identity.data(), identity.size()) != 0)
      hr = MAPI_E_NOT_FOUND;
  }
  if (hr == S_OK && !fx::NullOutput("OpenEntry")) {
    MailUser* user = new MailUser(profileKey_);
    if (lpInterface && !IsEqualGUID(*lpInterface, kIidIMAPIProp) && !IsEqualGUID(*lpInterface, kIidIUnknown) &&
        !(IsEqualGUID(*lpInterface, kIidIMailUser) && user->IsMailUser())) {
      user->Release();
      hr = MAPI_E_INTERFACE_NOT_SUPPORTED;
    } else {
      *lpulObjType = fx::Dword(profileKey_, "IdentityObjectType").value_or(MAPI_MAILUSER);
      *lppUnk = user;
    }
  }
  Call("OpenEntry flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Session::CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) {
  return NoSupport("CompareEntryIDs");
}
STDMETHODIMP Session::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) { return NoSupport("Advise"); }
STDMETHODIMP Session::Unadvise(ULONG) { return NoSupport("Unadvise"); }
STDMETHODIMP Session::MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) { return NoSupport("MessageOptions"); }
STDMETHODIMP Session::QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) {
  return NoSupport("QueryDefaultMessageOpt");
}
STDMETHODIMP Session::EnumAdrTypes(ULONG, ULONG*, LPTSTR**) { return NoSupport("EnumAdrTypes"); }

STDMETHODIMP Session::QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) {
  SBX_ALIVE("QueryIdentity");
  if (lpcbEntryID) *lpcbEntryID = 0;
  if (lppEntryID) *lppEntryID = nullptr;
  HRESULT hr = loggedOff_ ? kMapiEEndOfSession : fx::StepFailure("FailQueryIdentity");
  if (hr == S_OK && (!lpcbEntryID || !lppEntryID)) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput("QueryIdentity")) {
    const std::vector<BYTE> id = IdentityEntryId(profileKey_);
    void* buffer = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &buffer))) {
      hr = MAPI_E_NOT_ENOUGH_MEMORY;
    } else {
      std::memcpy(buffer, id.data(), id.size());
      *lpcbEntryID = static_cast<ULONG>(id.size());
      *lppEntryID = static_cast<LPENTRYID>(buffer);
    }
  }
  Call("QueryIdentity -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP Session::Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG) {
  SBX_ALIVE("Logoff");
  loggedOff_ = true;
  Call("Logoff ui=" + Hex(static_cast<ULONG>(ulUIParam)) + " flags=" + Hex(ulFlags));
  return S_OK;
}

STDMETHODIMP Session::SetDefaultStore(ULONG, ULONG, LPENTRYID) { return NoSupport("SetDefaultStore"); }
STDMETHODIMP Session::AdminServices(ULONG, LPSERVICEADMIN*) { return NoSupport("AdminServices"); }
STDMETHODIMP Session::ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                               ULONG, LPSTR) {
  return NoSupport("ShowForm");
}
STDMETHODIMP Session::PrepareForm(LPCIID, LPMESSAGE, ULONG*) { return NoSupport("PrepareForm"); }

// ---- MailUser ----

MailUser::MailUser(std::string profileKey) : Object("MailUser"), profileKey_(std::move(profileKey)) {}

bool MailUser::IsMailUser() const { return fx::Dword(profileKey_, "IdentityNotMailUser").value_or(0) == 0; }

STDMETHODIMP MailUser::QueryInterface(REFIID riid, LPVOID* ppv) {
  SBX_ALIVE("QueryInterface");
  const HRESULT fail = fx::StepFailure("FailQueryInterface");
  if (fail != S_OK) {
    if (ppv) *ppv = nullptr;
    Call("QueryInterface iid=" + IidName(riid) + " -> " + Hex(static_cast<ULONG>(fail)));
    return fail;
  }
  if (fx::NullOutput("QueryInterface")) {
    if (ppv) *ppv = nullptr;
    Call("QueryInterface iid=" + IidName(riid) + " -> 0 (no object)");
    return S_OK;
  }
  static const IID* const all[] = {&kIidIUnknown, &kIidIMAPIProp, &kIidIMailUser};
  return QueryFrom(riid, ppv, this, all, IsMailUser() ? 3 : 2);
}
void MailUser::FreeContents() { std::string().swap(profileKey_); }
STDMETHODIMP MailUser::SaveChanges(ULONG) { return NoSupport("SaveChanges"); }

STDMETHODIMP MailUser::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                LPSPropValue* lppPropArray) {
  SBX_ALIVE("GetProps");
  if (lpcValues) *lpcValues = 0;
  if (lppPropArray) *lppPropArray = nullptr;
  HRESULT hr = fx::StepFailure("FailGetProps");
  if (hr == S_OK && (!lpcValues || !lppPropArray)) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput("GetProps")) {
    const Row row = IdentityRow(profileKey_);
    std::vector<ULONG> tags;
    if (lpPropTagArray) {
      tags.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
    } else {
      for (ULONG tag : kIdentityTags)  // every prop the object has
        if (FindProp(row, tag)) tags.push_back(tag);
    }
    const ULONG count = static_cast<ULONG>(tags.size());
    void* values = nullptr;
    int errors = -1;
    if (SUCCEEDED(MAPIAllocateBuffer(static_cast<ULONG>((count ? count : 1) * sizeof(SPropValue)), &values)))
      errors = FillValues(row, tags.data(), count, static_cast<SPropValue*>(values), values,
                          fx::RootDword("RotateValues").value_or(0) != 0);
    if (errors < 0) {
      if (values) MAPIFreeBuffer(values);
      hr = MAPI_E_NOT_ENOUGH_MEMORY;
    } else {
      *lpcValues = count;
      *lppPropArray = static_cast<LPSPropValue>(values);
      hr = errors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
  }
  const std::string tags = lpPropTagArray ? TagList(lpPropTagArray->aulPropTag, lpPropTagArray->cValues) : "null";
  Call("GetProps tags=" + tags + " flags=" + Hex(ulFlags) + " -> " + Hex(static_cast<ULONG>(hr)));
  return hr;
}

STDMETHODIMP MailUser::GetPropList(ULONG, LPSPropTagArray*) { return NoSupport("GetPropList"); }
STDMETHODIMP MailUser::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) { return NoSupport("OpenProperty"); }
STDMETHODIMP MailUser::SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) { return NoSupport("SetProps"); }
STDMETHODIMP MailUser::DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return NoSupport("DeleteProps"); }
STDMETHODIMP MailUser::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                              LPSPropProblemArray*) {
  return NoSupport("CopyTo");
}
STDMETHODIMP MailUser::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                 LPSPropProblemArray*) {
  return NoSupport("CopyProps");
}
STDMETHODIMP MailUser::GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) {
  return NoSupport("GetNamesFromIDs");
}
STDMETHODIMP MailUser::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) {
  return NoSupport("GetIDsFromNames");
}

// ---- logon lookup ----

std::optional<std::string> FindProfileKey(const char* profileName) {
  const std::vector<std::string> names = fx::Subkeys("Profiles");
  if (!profileName || !*profileName) {
    std::optional<std::string> chosen = fx::RootString("LogonEmptyProfile");
    if (!chosen) return std::nullopt;
    for (const std::string& name : names)
      if (name == *chosen) return ProfileKeyOf(name);
    return std::nullopt;
  }
  for (const std::string& name : names) {
    const std::string key = ProfileKeyOf(name);
    std::optional<std::string> display = fx::String(key, "Name");
    if (display && lstrcmpiA(display->c_str(), profileName) == 0) return key;
  }
  return std::nullopt;
}

}  // namespace sbx
