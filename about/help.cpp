// Help viewer access (built by a later change; until then help is unavailable).
#include "about/help.h"

int InitHelp() { return 0; }
HWND OpenHelpTopic(HWND, const char*) { return nullptr; }
