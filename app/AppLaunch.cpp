#include "app/AppLaunch.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include "platform/AppInfo.h"

namespace quorvel {

std::unique_ptr<RunningApplication> startApplication() {
    QApplication::setApplicationName(QStringLiteral("Quorvel Connect"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    // Before anything reads them: the transport's User-Agent and the
    // keychain identifier's prefix come from here.
    ostrelcomm::AppInfo::set({"Quorvel Connect", QUORVEL_VERSION, QUORVEL_BUILD_NUMBER, "© Quorvel",
                              QUORVEL_APP_IDENTIFIER_PREFIX});
    // The same widgets on every desktop: the images and colours are drawn
    // for this style, whatever the desktop's own theme would pick.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

    auto running = std::make_unique<RunningApplication>();
    // The main window first, so that its observers exist before the start-up
    // posts anything to it (such as "showLoginSheet").
    running->window = std::make_unique<MainWindow>();
    running->window->show();
    running->delegate = std::make_unique<AppDelegate>(running->window.get());
    running->delegate->applicationDidFinishLaunching();
    return running;
}

}  // namespace quorvel
