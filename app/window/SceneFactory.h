#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <string>

class QWidget;

namespace quorvel {

// The sheets the main window opens, by scene identifier ("getCredentials",
// "shareItem", …). A scene's maker builds its dialog as a child of the
// window; opening shows it window-modal on that window with open(), never
// exec(), and the dialog deletes itself once closed.
//
// On the main thread only.
class SceneFactory {
public:
    // Makes the scene's dialog on `window`; may give null (nothing opens).
    using Maker = std::function<QDialog*(QWidget* window)>;

    // The application's factory, holding every scene of the program
    // (registerApplicationScenes) from its first use.
    static SceneFactory& shared();

    // Registers or replaces a scene.
    void registerScene(const std::string& identifier, Maker maker);
    void unregisterScene(const std::string& identifier);
    bool contains(const std::string& identifier) const;

    // Opens the scene on `window`. An identifier no scene has, or a maker
    // that gives no dialog, opens nothing and reports nothing: null.
    QDialog* open(const std::string& identifier, QWidget* window) const;

private:
    std::map<std::string, Maker, std::less<>> makers_;
};

// The scene identifiers the main window opens.
inline constexpr char kGetCredentialsScene[] = "getCredentials";
inline constexpr char kGCAcceptanceScene[] = "gcAcceptance";
inline constexpr char kAboutAppScene[] = "aboutApp";
inline constexpr char kPreferencesScene[] = "preferences";
inline constexpr char kCreateNewUserScene[] = "createNewUser";
inline constexpr char kNewRemoteDirectoryScene[] = "newRemoteDirectory";
inline constexpr char kCreateLocalDirectoryScene[] = "createLocalDirectory";
inline constexpr char kRenameItemScene[] = "renameItem";
inline constexpr char kItemInfoScene[] = "itemInfo";
inline constexpr char kShareItemScene[] = "shareItem";
inline constexpr char kUserProfileScene[] = "userProfile";

// Registers every sheet of the program on `factory`.
void registerApplicationScenes(SceneFactory& factory);

}  // namespace quorvel
