// Every sheet of the program, by the scene identifier the main window opens
// it with. Each sheet adds its line here.

#include "app/account/UserProfileViewController.h"
#include "app/sheets/InfoViewController.h"
#include "app/sheets/NewUserViewController.h"
#include "app/sheets/PreferencesViewController.h"
#include "app/sheets/TOSViewController.h"
#include "app/window/SceneFactory.h"

namespace quorvel {

void registerApplicationScenes(SceneFactory& factory) {
    factory.registerScene("createNewUser", [](QWidget* window) { return new NewUserViewController(window); });
    factory.registerScene("gcAcceptance", [](QWidget* window) { return new TOSViewController(window); });
    factory.registerScene("preferences", [](QWidget* window) { return new PreferencesViewController(window); });
    factory.registerScene("aboutApp", [](QWidget* window) { return new InfoViewController(window); });
    factory.registerScene("userProfile", [](QWidget* window) { return new UserProfileViewController(window); });
}

}  // namespace quorvel
