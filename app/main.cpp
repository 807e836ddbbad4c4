// Quorvel Connect: the program entry.
#include <QApplication>

#include "app/AppLaunch.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const auto running = quorvel::startApplication();
    return application.exec();
}
