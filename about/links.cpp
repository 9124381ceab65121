// Version text and web links (built by a later change; until then nothing opens).
#include "about/links.h"
#include <cstring>

char* GetVersionText(char* buffer) { lstrcpynA(buffer, "???", VersionTextCapacity); return buffer; }
char* GetVersionTag(char* buffer) { buffer[0] = '\0'; return buffer; }
HINSTANCE OpenLink(UINT, HWND) { return nullptr; }
HINSTANCE OpenHomepage(HWND) { return nullptr; }
