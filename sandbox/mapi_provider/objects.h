// The COM objects the provider hands out: profile admin, tables, session and the identity.
// A released object keeps its shell (vtable and kind) so that a later call on it is recorded
// as a misuse instead of running on freed memory; its contents are freed at the last Release.
#pragma once

#include <windows.h>
#include <mapix.h>

#include <optional>
#include <string>
#include <vector>

#include "props.h"

namespace sbx {

class ObjectBase {
 protected:
  explicit ObjectBase(const char* kind);
  ~ObjectBase() = default;
  ObjectBase(const ObjectBase&) = delete;
  ObjectBase& operator=(const ObjectBase&) = delete;

  ULONG AddRefImpl();
  // Records the Release; *last is set when this call released the object.
  ULONG ReleaseImpl(bool* last);
  bool Released() const;
  HRESULT OnReleased(const char* method);
  HRESULT NoSupport(const char* method);
  HRESULT LastError(HRESULT hr, LPMAPIERROR* error);
  // Records "<Kind>.<text>".
  void Call(const std::string& text);
  // QueryInterface over a list of IIDs that all map to `self`.
  HRESULT QueryFrom(REFIID riid, void** ppv, IUnknown* self, const IID* const* iids, int count);

  const char* kind_;

 private:
  LONG refs_ = 1;
  bool released_ = false;
};

// What every object answers alike: reference counts and GetLastError. FreeContents runs at the
// last Release; the shell stays (see above).
template <class Interface>
class Object : public Interface, protected ObjectBase {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override {
    bool last = false;
    const ULONG refs = ReleaseImpl(&last);
    if (last) FreeContents();
    return refs;
  }
  STDMETHODIMP GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
    return LastError(hResult, lppMAPIError);
  }

 protected:
  explicit Object(const char* kind) : ObjectBase(kind) {}
  virtual void FreeContents() {}
};

class Table final : public Object<IMAPITable> {
 public:
  enum class Kind { Profiles, Stores };
  Table(Kind kind, std::vector<Row> rows, std::vector<ULONG> columns);

  STDMETHODIMP QueryInterface(REFIID riid, LPVOID* ppv) override;
  STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override;
  STDMETHODIMP Unadvise(ULONG) override;
  STDMETHODIMP GetStatus(ULONG*, ULONG*) override;
  STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
  STDMETHODIMP QueryColumns(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP GetRowCount(ULONG ulFlags, ULONG* lpulCount) override;
  STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override;
  STDMETHODIMP SeekRowApprox(ULONG, ULONG) override;
  STDMETHODIMP QueryPosition(ULONG*, ULONG*, ULONG*) override;
  STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override;
  STDMETHODIMP Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
  STDMETHODIMP CreateBookmark(BOOKMARK*) override;
  STDMETHODIMP FreeBookmark(BOOKMARK) override;
  STDMETHODIMP SortTable(LPSSortOrderSet, ULONG) override;
  STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override;
  STDMETHODIMP QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override;
  STDMETHODIMP Abort() override;
  STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override;
  STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override;
  STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override;
  STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override;
  STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override;

 private:
  void FreeContents() override;
  HRESULT AllocateRows(size_t first, size_t count, LPSRowSet* out) const;

  Kind kind_;
  std::vector<Row> rows_;
  std::vector<size_t> view_;  // rows_ indices that pass the restriction
  std::vector<ULONG> columns_;
  size_t position_ = 0;       // index into view_
};

class ProfAdmin final : public Object<IProfAdmin> {
 public:
  ProfAdmin();

  STDMETHODIMP QueryInterface(REFIID riid, LPVOID* ppv) override;
  STDMETHODIMP GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
  STDMETHODIMP CreateProfile(LPTSTR, LPTSTR, ULONG_PTR, ULONG) override;
  STDMETHODIMP DeleteProfile(LPTSTR, ULONG) override;
  STDMETHODIMP ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) override;
  STDMETHODIMP CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override;
  STDMETHODIMP RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override;
  STDMETHODIMP SetDefaultProfile(LPTSTR, ULONG) override;
  STDMETHODIMP AdminServices(LPTSTR, LPTSTR, ULONG_PTR, ULONG, LPSERVICEADMIN*) override;
};

class Session final : public Object<IMAPISession> {
 public:
  explicit Session(std::string profileKey);

  STDMETHODIMP QueryInterface(REFIID riid, LPVOID* ppv) override;
  STDMETHODIMP GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
  STDMETHODIMP OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB*) override;
  STDMETHODIMP OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override;
  STDMETHODIMP OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override;
  STDMETHODIMP GetStatusTable(ULONG, LPMAPITABLE*) override;
  STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                         ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;
  STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override;
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override;
  STDMETHODIMP Unadvise(ULONG) override;
  STDMETHODIMP MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override;
  STDMETHODIMP QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) override;
  STDMETHODIMP EnumAdrTypes(ULONG, ULONG*, LPTSTR**) override;
  STDMETHODIMP QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
  STDMETHODIMP Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) override;
  STDMETHODIMP SetDefaultStore(ULONG, ULONG, LPENTRYID) override;
  STDMETHODIMP AdminServices(ULONG, LPSERVICEADMIN*) override;
  STDMETHODIMP ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG,
                        ULONG, LPSTR) override;
  STDMETHODIMP PrepareForm(LPCIID, LPMESSAGE, ULONG*) override;

 private:
  void FreeContents() override;

  std::string profileKey_;  // "Profiles\\001"
  bool loggedOff_ = false;
};

class MailUser final : public Object<IMailUser> {
 public:
  explicit MailUser(std::string profileKey);

  STDMETHODIMP QueryInterface(REFIID riid, LPVOID* ppv) override;
  STDMETHODIMP SaveChanges(ULONG) override;
  STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                        LPSPropValue* lppPropArray) override;
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override;
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override;
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override;
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override;
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override;
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override;
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override;
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override;

  bool IsMailUser() const;

 private:
  void FreeContents() override;

  std::string profileKey_;
};

// The fixture's profile key ("Profiles\\001") for a logon profile name, matched without regard
// to case; an empty name goes to the profile that "LogonEmptyProfile" names.
std::optional<std::string> FindProfileKey(const char* profileName);

}  // namespace sbx
