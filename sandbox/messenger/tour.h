// The screenshot tour of orvl_messenger.exe --tour: walks through the Orvella menu, the settings
// sheet with its test logon reports, help, About and the homepage, pausing at each view until the
// demo script has taken its picture.
//
// Handshake with the script, in the tour folder: the tour writes step-NN-<name>.ready when a view
// is on screen and waits (bounded) for step-NN-<name>.done; tour.log records what happened and
// tour.finished marks a tour that got to its end.
//
// Everything runs on the Messenger window's own thread: a thread timer resumes the tour (a fiber)
// from whatever message loop is running, the modal loops of the sheet and dialogs included.
#ifndef ORVL_SANDBOX_MESSENGER_TOUR_H
#define ORVL_SANDBOX_MESSENGER_TOUR_H

#include <windows.h>
#include <string>

namespace sandbox {

struct TourOptions {
    std::string folder;  // Windows path of the handshake folder (must exist)
    bool brief = false;  // only the menu, the sheet, one report and About
};

// Starts the tour for the Messenger window `messenger` (created on the calling thread). At its end
// the tour closes the window. False if it could not start.
bool StartTour(HWND messenger, const TourOptions& options);

// 0 once the tour got to its end; 1 before that or if it failed.
int TourExitCode();

} // namespace sandbox

#endif
