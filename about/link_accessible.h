// What a screen reader learns of a link label of the About box: that it is a link, and how to
// open it.
#ifndef ORVLHOOK_ABOUT_LINK_ACCESSIBLE_H
#define ORVLHOOK_ABOUT_LINK_ACCESSIBLE_H

#include <windows.h>

// The answer to WM_GETOBJECT for the label's client object (wParam as the message gave it): a
// reference to an object that wraps the label's standard one and reports a link. 0 when there is
// none to give (no COM on the thread, no accessibility library, no memory): the label's own
// procedure then answers, and the reader gets the standard object.
LRESULT AnswerLinkLabelObject(HWND label, WPARAM wParam);

#endif
