#pragma once
// Start-up with the window: the application object, the skin, the working directories, the main window.

#include <filesystem>
#include <string>

#include "net/endpoints.h"

class QApplication;

namespace tandrel {

class MainWindow;

// Creates the QApplication (none may exist yet), shows the main window and runs the event loop until the
// window is closed. With startMonitoring (the demo, --start-monitoring), monitoring starts once the store
// list has loaded. Returns the exit status. A data folder that is refused (refusal, UTF-8) is said in a
// message box, and nothing else happens.
int RunGui(int& argc, char** argv, const std::filesystem::path& dataDir, const Endpoints& endpoints,
           bool startMonitoring = false, const std::string& refusal = {});

// The demo's and --start-monitoring's start: once the store list has loaded, the window's own start runs (the
// one the button and the tray use), so the button and the tray menu show that monitoring runs.
void StartWhenLoaded(MainWindow& window);

// Qt's own Chinese texts (确定/取消 in boxes, 复制/全选 in edit menus), from the system's Qt translations.
// False when they are not installed: those texts stay English.
bool InstallQtChinese(QApplication& app);

// The program's style sheet and icon, for every window of the process. False when the style sheet cannot be
// read: the system look stays.
bool ApplySkin(QApplication& app);

}  // namespace tandrel
