// Quorvel Connect: the program entry.
#include <QApplication>

#include "app/AppDelegate.h"
#include "app/window/MainWindow.h"
#include "app/utils/Appwise.h"
#include "platform/AppInfo.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel Connect"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    // Before anything reads them: the transport's User-Agent and the
    // keychain identifier's prefix come from here.
    ostrelcomm::AppInfo::set({"Quorvel Connect", QUORVEL_VERSION, QUORVEL_BUILD_NUMBER, "© Quorvel",
                              QUORVEL_APP_IDENTIFIER_PREFIX});

    // The main window first, so that its observers exist before the start-up
    // posts anything to it (such as "showLoginSheet").
    quorvel::MainWindow window;
    window.show();

    quorvel::AppDelegate delegate(&window);
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
