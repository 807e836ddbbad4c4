#include "app/window/SceneFactory.h"

#include <utility>

namespace quorvel {

SceneFactory& SceneFactory::shared() {
    static SceneFactory* factory = [] {
        auto* made = new SceneFactory;
        registerApplicationScenes(*made);
        return made;
    }();
    return *factory;
}

void SceneFactory::registerScene(const std::string& identifier, Maker maker) {
    makers_.insert_or_assign(identifier, std::move(maker));
}

void SceneFactory::unregisterScene(const std::string& identifier) { makers_.erase(identifier); }

bool SceneFactory::contains(const std::string& identifier) const { return makers_.count(identifier) != 0; }

QDialog* SceneFactory::open(const std::string& identifier, QWidget* window) const {
    const auto found = makers_.find(identifier);
    if (found == makers_.end() || !found->second) return nullptr;
    QDialog* dialog = found->second(window);
    if (!dialog) return nullptr;
    // A maker may hand back a sheet already on show (one at a time).
    if (dialog->isVisible()) {
        dialog->raise();
        return dialog;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->open();
    return dialog;
}

}  // namespace quorvel
