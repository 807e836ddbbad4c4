// Every sheet of the program, by the scene identifier the main window opens
// it with. Each sheet adds its line here.

#include "app/account/UserProfileViewController.h"
#include "app/window/SceneFactory.h"

namespace quorvel {

void registerApplicationScenes(SceneFactory& factory) {
    (void)factory;
    factory.registerScene("userProfile", [](QWidget* window) { return new UserProfileViewController(window); });
}

}  // namespace quorvel
