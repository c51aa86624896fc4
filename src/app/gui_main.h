#pragma once
// Start-up with the window: the application object, the skin, the working directories, the main window.

#include <filesystem>

#include "net/endpoints.h"

class QApplication;

namespace tandrel {

// Creates the QApplication (none may exist yet), shows the main window and runs the event loop until the
// window is closed. With startMonitoring (the demo), monitoring starts once the store list has loaded.
// Returns the exit status.
int RunGui(int& argc, char** argv, const std::filesystem::path& dataDir, const Endpoints& endpoints,
           bool startMonitoring = false);

// The program's style sheet and icon, for every window of the process. False when the style sheet cannot be
// read: the system look stays.
bool ApplySkin(QApplication& app);

}  // namespace tandrel
