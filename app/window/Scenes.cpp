// Every sheet of the program, by the scene identifier the main window opens
// it with. Each sheet adds its line here.

#include "app/account/UserProfileViewController.h"
#include "app/sheets/InfoViewController.h"
#include "app/sheets/ItemInfoViewController.h"
#include "app/sheets/LoginViewController.h"
#include "app/sheets/NewLocalDirectoryViewController.h"
#include "app/sheets/NewRemoteDirectoryViewController.h"
#include "app/sheets/NewUserViewController.h"
#include "app/sheets/PreferencesViewController.h"
#include "app/sheets/RenameItemViewController.h"
#include "app/sheets/ShareItemViewController.h"
#include "app/sheets/TOSViewController.h"
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
    factory.registerScene(kCreateNewUserScene, [](QWidget* window) { return new NewUserViewController(window); });
    factory.registerScene(kGCAcceptanceScene, [](QWidget* window) { return new TOSViewController(window); });
    factory.registerScene(kPreferencesScene, [](QWidget* window) { return new PreferencesViewController(window); });
    factory.registerScene(kAboutAppScene, [](QWidget* window) { return new InfoViewController(window); });
    factory.registerScene(kUserProfileScene, [](QWidget* window) { return new UserProfileViewController(window); });
    factory.registerScene(kShareItemScene, [](QWidget* window) { return new ShareItemViewController(window); });
    factory.registerScene(kItemInfoScene, [](QWidget* window) { return new ItemInfoViewController(window); });
    factory.registerScene(kCreateLocalDirectoryScene,
                          [](QWidget* window) { return new NewLocalDirectoryViewController(window); });
    factory.registerScene(kNewRemoteDirectoryScene,
                          [](QWidget* window) { return new NewRemoteDirectoryViewController(window); });
    factory.registerScene(kRenameItemScene, [](QWidget* window) { return new RenameItemViewController(window); });
}

}  // namespace quorvel
