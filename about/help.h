// Topics of Orvella.chm in the HTML Help viewer.
#ifndef ORVLHOOK_ABOUT_HELP_H
#define ORVLHOOK_ABOUT_HELP_H

#include <windows.h>

// 1 when the viewer is ready, 0 when it is not (the control or its entry point is missing).
int InitHelp();

// Shows topic (e.g. "Intro.htm") of the interface language's folder; the viewer's window or 0.
HWND OpenHelpTopic(HWND owner, const char* topic);

// Offers a keyboard message that Messenger's thread is removing from its queue to the viewer,
// which runs on that thread; true when the viewer took it. Nothing is offered before help has
// been set up.
bool HelpTakesMessage(MSG* message);

#endif
