// Wide names for the module's language-dependent resources. Every text the user reads is loaded
// and shown through the "W" calls, so that Russian reads right whatever the ANSI code page.
#ifndef ORVLHOOK_HOST_RESOURCES_H
#define ORVLHOOK_HOST_RESOURCES_H

#include "host/module.h"

// A language-dependent resource ID as a 16-bit integer resource name, for the "W" calls.
// cppcheck-suppress CastIntegerToAddressAtReturn ; MAKEINTRESOURCEW is the cast, cppcheck models it as the bare integer
inline LPCWSTR LocalizedResourceW(UINT baseId) { return MAKEINTRESOURCEW(LocalizedId(baseId)); }

#endif
