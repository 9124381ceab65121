// "Test logon": logs on with a profile and a password, looks for the default message store and
// the user's identity, logs off, and reports in one message box.
#include "mapi/logon_report.h"
#include "host/module.h"
#include "host/wait_cursor.h"
#include "mapi/mapi_subset.h"
#include "res/resource.h"

#include <cstdint>

const IID MailUserInterfaceId = {0x0002030A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

void CopyMapiText(wchar_t* target, size_t capacity, const char* source)
{
    if (!capacity)
        return;
    target[0] = L'\0';
    if (!source)
        return;
    // Cut to capacity - 1 bytes as MAPI gave them, then convert: an ANSI text never takes more
    // UTF-16 units than bytes, so the cut text always fits.
    int length = 0;
    while (static_cast<size_t>(length) < capacity - 1 && source[length])
        ++length;
    int converted = length ? MultiByteToWideChar(CP_ACP, 0, source, length, target, static_cast<int>(capacity - 1)) : 0;
    target[converted > 0 ? converted : 0] = L'\0';
}

namespace {

const size_t ServiceCapacity = 500;
const size_t AccountTextCapacity = 300;
const size_t MessageCapacity = 2000;
const int ErrorFormatCapacity = 500;
const int FormatCapacity = 300;
const int BlockBound = 1024;  // wsprintfA writes at most this much, terminator included

// Store table columns and identity properties, in the order they are asked for.
// Column and property positions in MAPI rows; one byte is plenty.
enum StoreColumn : std::uint8_t { StoreEntryIdColumn, StoreDefaultColumn, StoreProviderColumn, StoreColumnCount };
const SizedSPropTagArray(StoreColumnCount, StoreColumns) = {
    StoreColumnCount, {PR_ENTRYID, PR_DEFAULT_STORE, PR_PROVIDER_DISPLAY_A}};

enum IdentityProperty : std::uint8_t { IdentityDisplayName, IdentityEmail, IdentityAccount, IdentitySmtp, IdentityPropertyCount };
const SizedSPropTagArray(IdentityPropertyCount, IdentityProperties) = {
    IdentityPropertyCount, {PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A, PR_ACCOUNT_A, PR_SMTP_ADDRESS_A}};

LPSPropTagArray TagArray(const void* sized)
{
    return const_cast<LPSPropTagArray>(static_cast<const SPropTagArray*>(sized));
}

// The values as shown: MAPI's ANSI texts converted from the ANSI code page, or the placeholder.
struct AccountReport {
    bool storeFound = false;
    bool exchange = false;
    wchar_t service[ServiceCapacity];
    wchar_t account[AccountTextCapacity];
    wchar_t userName[AccountTextCapacity];
    wchar_t email[AccountTextCapacity];
    wchar_t smtpEmail[AccountTextCapacity];
};

// Scans the default-store rows: the first provider naming "Exchange Server" decides; otherwise
// Service keeps the last provider name seen.
void FindDefaultStore(LPMAPISESSION session, AccountReport& report)
{
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    SPropValue isDefault = {};
    isDefault.ulPropTag = PR_DEFAULT_STORE;
    isDefault.Value.b = TRUE;
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_DEFAULT_STORE;
    restriction.res.resProperty.lpProp = &isDefault;

    if (SUCCEEDED(session->GetMsgStoresTable(0, &table)) && table
        && SUCCEEDED(table->SetColumns(TagArray(&StoreColumns), TBL_BATCH))
        && SUCCEEDED(table->Restrict(&restriction, TBL_BATCH))
        && SUCCEEDED(table->QueryRows(MapiRowBatch, 0, &rows)) && rows) {
        report.storeFound = rows->cRows > 0;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SRow& row = rows->aRow[i];
            if (!HasValue(row.lpProps, row.cValues, StoreProviderColumn, PR_PROVIDER_DISPLAY_A)
                || !row.lpProps[StoreProviderColumn].Value.lpszA)
                continue;
            const char* provider = row.lpProps[StoreProviderColumn].Value.lpszA;
            CopyMapiText(report.service, ServiceCapacity, provider);
            if (strstr(provider, "Exchange Server")) {
                report.exchange = true;
                break;
            }
        }
    }
    if (rows)
        FreeProws(rows);
    if (table)
        table->Release();
}

void ReadIdentity(LPMAPISESSION session, AccountReport& report)
{
    ULONG entryIdSize = 0;
    LPENTRYID entryId = nullptr;
    LPUNKNOWN opened = nullptr;
    LPMAILUSER mailUser = nullptr;
    ULONG objectType = 0;
    if (SUCCEEDED(session->QueryIdentity(&entryIdSize, &entryId)) && entryId
        && SUCCEEDED(session->OpenEntry(entryIdSize, entryId, nullptr, MAPI_BEST_ACCESS, &objectType, &opened))
        && opened
        && SUCCEEDED(opened->QueryInterface(MailUserInterfaceId, reinterpret_cast<void**>(&mailUser))) && mailUser) {
        ULONG count = 0;
        LPSPropValue values = nullptr;
        if (SUCCEEDED(mailUser->GetProps(TagArray(&IdentityProperties), 0, &count, &values)) && values) {
            struct Target { IdentityProperty index; ULONG tag; wchar_t* text; };
            const Target targets[] = {
                {IdentityDisplayName, PR_DISPLAY_NAME_A, report.userName},
                {IdentityEmail, PR_EMAIL_ADDRESS_A, report.email},
                {IdentityAccount, PR_ACCOUNT_A, report.account},
                {IdentitySmtp, PR_SMTP_ADDRESS_A, report.smtpEmail}};
            for (const Target& target : targets)
                if (HasValue(values, count, target.index, target.tag) && values[target.index].Value.lpszA)
                    CopyMapiText(target.text, AccountTextCapacity, values[target.index].Value.lpszA);
        }
        if (values)
            MAPIFreeBuffer(values);
    }
    if (mailUser)
        mailUser->Release();
    if (opened)
        opened->Release();
    if (entryId)
        MAPIFreeBuffer(entryId);
}

} // namespace

void ReportTestLogon(HWND owner, const char* profileName, const char* password)
{
    AccountReport report;
    UINT icon = MB_ICONERROR;
    // Every text of the box is wide, so Russian reads right whatever the ANSI code page; what
    // MAPI is given and gives back stays ANSI.
    LoadStringW(ModuleInstance, LocalizedId(IDS_NOT_AVAILABLE), report.account, AccountTextCapacity);
    lstrcpynW(report.service, report.account, ServiceCapacity);
    lstrcpynW(report.userName, report.account, AccountTextCapacity);
    lstrcpynW(report.email, report.account, AccountTextCapacity);
    lstrcpynW(report.smtpEmail, report.account, AccountTextCapacity);

    wchar_t message[MessageCapacity] = L"";
    LPMAPISESSION session = nullptr;
    HRESULT logon = S_OK;
    bool loggedOn = false;
    {
        // Against an Exchange server that does not answer the logon alone takes tens of seconds.
        // The report below shows with the cursor as it was.
        WaitCursor wait;
        // MAPI only reads the two texts, though its declaration does not say so.
        logon = MAPILogonEx(reinterpret_cast<ULONG_PTR>(owner), const_cast<LPSTR>(profileName),
                            const_cast<LPSTR>(password), MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_LOGON_UI, &session);
        loggedOn = SUCCEEDED(logon) && session;
        if (loggedOn) {
            FindDefaultStore(session, report);
            ReadIdentity(session, report);
            session->Logoff(0, 0, 0);
        }
        if (session)
            session->Release();
    }
    if (!loggedOn) {
        wchar_t format[ErrorFormatCapacity] = L"";
        LoadStringW(ModuleInstance, LocalizedId(IDS_LOGON_ERROR_FORMAT), format, ErrorFormatCapacity);
        // One %08x in a resource string of under 500 characters: well inside the 1,024 bound.
        wsprintfW(message, format, static_cast<unsigned>(logon));
    } else if (report.storeFound) {
        if (report.exchange)
            icon = MB_ICONINFORMATION;
        LoadStringW(ModuleInstance, LocalizedId(report.exchange ? IDS_EXCHANGE_HEADER : IDS_NOT_EXCHANGE_HEADER),
                    message, MessageCapacity);
        wchar_t blockFormat[FormatCapacity] = L"";
        LoadStringW(ModuleInstance, LocalizedId(IDS_ACCOUNT_BLOCK_FORMAT), blockFormat, FormatCapacity);
        int headerLength = lstrlenW(message);
        int room = static_cast<int>(MessageCapacity) - headerLength;
        // wsprintfW writes at most 1,024 characters, terminator included; the longest header and
        // block then fit Message.
        wchar_t block[BlockBound] = L"";
        wsprintfW(block, blockFormat, report.service, report.account, report.userName, report.email,
                  report.smtpEmail);
        lstrcpynW(message + headerLength, block, room);
    } else {
        LoadStringW(ModuleInstance, LocalizedId(IDS_NO_STORE_ACCESS), message, MessageCapacity);
    }

    wchar_t caption[FormatCapacity] = L"";
    LoadStringW(ModuleInstance, LocalizedId(IDS_TEST_LOGON_CAPTION), caption, FormatCapacity);
    MessageBoxW(owner, message, caption, MB_OK | icon);
}
