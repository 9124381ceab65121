// Interface ids, tags and codes of Extended MAPI that mingw-w64's headers leave out, for the
// provider and for the programs that call it. Header-only.
#pragma once

#include <windows.h>
#include <mapix.h>

namespace sbx {

constexpr ULONG kPrSmtpAddressA = PROP_TAG(PT_STRING8, 0x39FE);
constexpr ULONG kMapiNoCoinit = 0x00000008;
constexpr HRESULT kMapiEEndOfSession = static_cast<HRESULT>(0x80040200L);
constexpr HRESULT kMapiENotInitialized = static_cast<HRESULT>(0x80040605L);

// MAPI's interfaces share OLE's base GUID {xxxxxxxx-0000-0000-C000-000000000046}.
constexpr IID MapiIid(unsigned long first) { return {first, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
inline constexpr IID kIidIUnknown = MapiIid(0x00000000);
inline constexpr IID kIidIMAPIProp = MapiIid(0x00020303);
inline constexpr IID kIidIMailUser = MapiIid(0x0002030A);
inline constexpr IID kIidIMAPITable = MapiIid(0x00020301);
inline constexpr IID kIidIMAPISession = MapiIid(0x00020300);
inline constexpr IID kIidIProfAdmin = MapiIid(0x0002031C);

}  // namespace sbx
