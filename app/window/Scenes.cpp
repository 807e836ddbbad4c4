// Every sheet of the program, by the scene identifier the main window opens
// it with. Each sheet adds its line here.

#include "app/sheets/LoginViewController.h"
#include "app/window/SceneFactory.h"

namespace quorvel {

namespace {

// One login sheet at a time: a second one would start a second automatic
// login. The one on show is handed back, and the factory raises it.
QDialog* loginSheet(QWidget* window) {
    if (window)
        for (auto* sheet : window->findChildren<LoginViewController*>(Qt::FindDirectChildrenOnly))
            if (sheet->isVisible()) return sheet;
    return new LoginViewController(window);
}

}  // namespace

void registerApplicationScenes(SceneFactory& factory) {
    factory.registerScene(kGetCredentialsScene, &loginSheet);
}

}  // namespace quorvel
