// The module's version text and the web and mail addresses that carry its version tag.
#ifndef ORVLHOOK_ABOUT_LINKS_H
#define ORVLHOOK_ABOUT_LINKS_H

#include <windows.h>

const int VersionTextCapacity = 300;
const int VersionTagCapacity = 52;

// The FileVersion text of the interface language, or "???", in a buffer of VersionTextCapacity
// characters; returns buffer.
wchar_t* GetVersionText(wchar_t* buffer);
// The digits of the version text up to its first comma ("10" for "1.0, released ..."); returns buffer.
char* GetVersionTag(char* buffer);

// Opens string (baseStringId + LanguageOffset), tagged unless it holds "mailto:" or "#".
HINSTANCE OpenLink(UINT baseStringId, HWND owner);
// Opens the homepage address, always tagged.
HINSTANCE OpenHomepage(HWND owner);

#endif
