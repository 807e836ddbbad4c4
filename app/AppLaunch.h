#pragma once

#include <memory>

#include "app/AppDelegate.h"
#include "app/window/MainWindow.h"

namespace quorvel {

// The program as it runs once started: its main window and the delegate
// that owns the window's menus. The delegate goes first, the window after.
struct RunningApplication {
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> delegate;
};

// What the program does once its QApplication exists: names it, gives the
// transport and the keychain the application's information, sets the one
// look every desktop gets, shows the main window and finishes the launch
// (Appwise::shared(), the login sheet when the settings ask for it). The
// caller then runs the event loop. Once, on the main thread.
std::unique_ptr<RunningApplication> startApplication();

}  // namespace quorvel
