// Resource and command IDs, shared by the resource script and the code.
// Language-dependent resources: English at the base ID, Russian at base + RUSSIAN_ID_OFFSET.
#ifndef ORVLHOOK_RES_RESOURCE_H
#define ORVLHOOK_RES_RESOURCE_H

#define RUSSIAN_ID_OFFSET          100

// String table (base IDs)
#define IDS_PAGE_TITLE             106
#define IDS_SHEET_CAPTION          107
#define IDS_NOT_AVAILABLE          108
#define IDS_LOGON_ERROR_FORMAT     109
#define IDS_EXCHANGE_HEADER        110
#define IDS_NOT_EXCHANGE_HEADER    111
#define IDS_NO_STORE_ACCESS        112
#define IDS_ACCOUNT_BLOCK_FORMAT   113
#define IDS_TEST_LOGON_CAPTION     114
#define IDS_HOMEPAGE_ADDRESS       115
#define IDS_VERSION_QUERY_PATH     116
#define IDS_SUPPORT_ADDRESS        128
#define IDS_HELP_FILE_NAME         129
#define IDS_HELP_TOPIC_FOLDER      130
#define IDS_LINK_DEFAULT_ACTION    131

// Menus and dialogs (base IDs)
#define IDR_PRODUCT_MENU           101
#define IDD_LOGON_PAGE             9
#define IDD_ABOUT                  123

// Shared by both languages
#define IDI_PRODUCT                115
#define IDC_LINK_HAND              124

// Product menu commands
#define IDM_SETTINGS               1101
#define IDM_HELP                   132
#define IDM_HOMEPAGE               119
#define IDM_ABOUT                  1102

// Logon page controls
#define IDC_AUTO_LOGON             1002
#define IDC_PROFILE_LOGON          1003
#define IDC_PROFILE_LIST           1004
#define IDC_PASSWORD               1005
#define IDC_TEST_LOGON             1006

// About dialog controls
#define IDC_VERSION_TEXT           1012
#define IDC_SUPPORT_LINK           1013
#define IDC_HOMEPAGE_LINK          1014

#endif
