#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;

namespace quorvel {

// The preferences sheet "preferences": whether the jobs list shows every
// job ("showFullLog", a check box) and what an upload does with an item
// that exists remotely ("sendingConflictBehaviour", a pop-up whose items are
// the behaviours in their own order: skip if equal, always replace,
// rename). Each change is written through to the settings at once (and
// "showFullLogChanged" posted for the check box); closing ("doClose",
// Escape, the close box) only closes.
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0).
class PreferencesViewController : public QDialog {
    Q_OBJECT

public:
    explicit PreferencesViewController(QWidget* parent = nullptr);

    void showFullLogChange(bool on);
    void sendingConflictBehaviourChange(int index);
    void doClose();

    void reject() override;

private:
    void buildView();
    void viewDidLoad();

    QCheckBox* showFullLog_ = nullptr;
    QComboBox* sendingConflictBehaviour_ = nullptr;
};

}  // namespace quorvel
