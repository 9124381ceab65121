// The part of Extended MAPI that this module calls. MAPI32.DLL is imported by ordinal
// (mapi/mapi32.def): 11 MAPILogonEx, 17 MAPIFreeBuffer, 19 MAPIAdminProfiles,
// 21 MAPIInitialize, 23 MAPIUninitialize, 140 FreeProws. All text is ANSI.
#ifndef ORVLHOOK_MAPI_MAPI_SUBSET_H
#define ORVLHOOK_MAPI_MAPI_SUBSET_H

#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include <mapitags.h>
#include <mapicode.h>
#include <mapiutil.h>

// What the system headers lack.
#ifndef MAPI_NO_COINIT
#define MAPI_NO_COINIT 0x00000008
#endif
#ifndef PR_SMTP_ADDRESS_A
#define PR_SMTP_ADDRESS_A PROP_TAG(PT_STRING8, 0x39FE)
#endif

// IID_IMailUser {0002030A-0000-0000-C000-000000000046}, kept here so no GUID library is needed.
extern const IID MailUserInterfaceId;

// At most this many rows are read from any table, in one batch.
const LONG MapiRowBatch = 100;

// A value counts only when it carries the tag that was asked for; error values do not.
inline bool HasValue(const SPropValue* values, ULONG count, ULONG index, ULONG tag)
{
    return values && index < count && values[index].ulPropTag == tag;
}

// Copies a MAPI string value (ANSI) into a fixed wide buffer for display: cut to capacity - 1
// bytes, converted from the ANSI code page, always terminated.
void CopyMapiText(wchar_t* target, size_t capacity, const char* source);

#endif
