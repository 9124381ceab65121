// The Extended MAPI entry points Wine's mapi32.dll forwards to the default mail client's DLL.
// All are WINAPI (stdcall) and exported by plain name.

#include <windows.h>
#include <mapix.h>

#include "fixture_reader.h"
#include "objects.h"
#include "props.h"
#include "recorder.h"

extern "C" {

HRESULT WINAPI MAPIInitialize(LPVOID lpMapiInit) {
  HRESULT hr;
  std::string what;
  if (!lpMapiInit) {
    hr = fx::StepFailure("InitResultNull");
    what = "null";
  } else {
    const ULONG flags = static_cast<const MAPIINIT_0*>(lpMapiInit)->ulFlags;
    hr = fx::StepFailure((flags & sbx::kMapiNoCoinit) ? "InitResultNoCoinit" : "InitResultPlain");
    what = "flags=" + sbx::Hex(flags);
  }
  if (SUCCEEDED(hr)) sbx::InitSucceeded();
  sbx::Record("MAPIInitialize " + what + " -> " + sbx::Hex(static_cast<ULONG>(hr)));
  return hr;
}

void WINAPI MAPIUninitialize(void) {
  sbx::Uninitialized();
  sbx::Record("MAPIUninitialize");
}

HRESULT WINAPI MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
  if (lppProfAdmin) *lppProfAdmin = nullptr;
  HRESULT hr = sbx::IsInitialized() ? fx::StepFailure("FailAdminProfiles") : sbx::kMapiENotInitialized;
  if (hr == S_OK && !lppProfAdmin) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK && !fx::NullOutput("AdminProfiles")) *lppProfAdmin = new sbx::ProfAdmin();
  sbx::Record("MAPIAdminProfiles flags=" + sbx::Hex(ulFlags) + " -> " + sbx::Hex(static_cast<ULONG>(hr)));
  return hr;
}

HRESULT WINAPI MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, FLAGS flFlags,
                           LPMAPISESSION* lppSession) {
  if (lppSession) *lppSession = nullptr;
  HRESULT hr = sbx::IsInitialized() ? S_OK : sbx::kMapiENotInitialized;
  if (hr == S_OK && !lppSession) hr = MAPI_E_INVALID_PARAMETER;
  if (hr == S_OK) {
    std::optional<std::string> key = sbx::FindProfileKey(lpszProfileName);
    if (!key) {
      hr = MAPI_E_LOGON_FAILED;
    } else {
      hr = static_cast<HRESULT>(fx::Dword(*key, "LogonResult").value_or(S_OK));
      // A misbehaving provider: success without a session, or a failure that hands one back.
      const bool session = SUCCEEDED(hr) ? !fx::NullOutput("LogonEx")
                                         : fx::RootDword("SessionDespiteFailure").value_or(0) != 0;
      if (session) *lppSession = new sbx::Session(*key);
    }
  }
  sbx::Record("MAPILogonEx ui=" + sbx::Hex8(static_cast<ULONG>(ulUIParam)) + " profile=" +
              sbx::Quoted(lpszProfileName) + " password=" + sbx::Quoted(lpszPassword) +
              " flags=" + sbx::Hex(flFlags) + " -> " + sbx::Hex(static_cast<ULONG>(hr)));
  return hr;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
