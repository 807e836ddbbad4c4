#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QString>

#include "app/utils/EngineBridge.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvel {

// The account-creation sheet "createNewUser": a user name, the full-access
// password typed twice, and the server. Create asks the fast engine to make
// the account (it does not log in); the sheet then follows the engine's
// "userCreationTerminated": a created account or a described refusal is
// reported by an alert, after which the sheet closes; an end without a
// description leaves the sheet open, Create disabled until the next edit.
//
// While the password is typed, a strength verdict and whether the two
// entries match are shown; Create is enabled only for a name of at least
// three characters once spaces are trimmed from its ends, without blanks at
// its ends at all, and two equal passwords (empty ones too). A name with
// blanks at its ends cannot be used: HTTP drops them from the header that
// carries the name, so the account would be made under another name than
// the one its verifier was computed with, and no spelling could ever log in.
//
// Its widgets are found by their object names: "username",
// "fullAccessPassword", "fullAccessPasswordVerification" (echo hidden),
// "fullAccessPasswordStrength", "fullAccessPasswordMatch", "usernameProblem"
// (why the name cannot be used, hidden while it can), "protocolButton",
// "btnCancel", "btnCreate" and "progressSpinner".
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0), which also empties both password fields. Cancel (Escape, the
// close box) leaves a running creation alone.
class NewUserViewController : public QDialog {
    Q_OBJECT

public:
    explicit NewUserViewController(QWidget* parent = nullptr);
    ~NewUserViewController() override;
    NewUserViewController(const NewUserViewController&) = delete;
    NewUserViewController& operator=(const NewUserViewController&) = delete;

    // Create: the chosen server on the fast engine, then the account. With
    // no server to choose, an alert and nothing else.
    void createNewUser();
    // Cancel.
    void btnCancel();

    void reject() override;
    void done(int result) override;

private:
    void buildView();
    void viewDidLoad();
    // After an edit of one of the three fields.
    void usernameChanged();
    void fullAccessPasswordChanged();
    void fullAccessPasswordVerificationChanged();
    void updateCreate();
    void checkFullAccessPasswordStrength();
    bool checkFullAccessPasswordMatch();
    void creationEnded(const UserCreationEvent& event);
    void startSpinner();
    void stopSpinner();
    void closeSheet();
    void stopObserving();

    QLineEdit* username_ = nullptr;
    QLineEdit* fullAccessPassword_ = nullptr;
    QLineEdit* fullAccessPasswordVerification_ = nullptr;
    QLabel* fullAccessPasswordStrength_ = nullptr;
    QLabel* fullAccessPasswordMatch_ = nullptr;
    QLabel* usernameProblem_ = nullptr;
    QComboBox* protocolButton_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* btnCreate_ = nullptr;
    QProgressBar* progressSpinner_ = nullptr;

    bool usernameValid_ = false;
    bool fullAccessPasswordValid_ = false;
    // The registration of creationEnded; empty once the sheet is closing.
    QMetaObject::Connection resultObserver_;
};

}  // namespace quorvel
