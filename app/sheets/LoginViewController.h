#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>
#include <string>

#include "platform/NotificationCenter.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace quorvel {

// The login sheet "getCredentials": a user name, a password, the server to
// use; OK starts the login on the fast engine and the sheet follows it until
// the session is open (the sheet closes and "actionRefresh" is posted) or the
// login failed (the "Login-Error" alert; the sheet stays open with what was
// typed). When the user chose automatic access at start-up and has not
// logged out during this run, the sheet fills itself from the keychain and
// logs in without a click.
//
// Its widgets are found by their object names: "txtUsername", "txtPassword"
// (echo hidden), "clrPassword" (the same password in clear; only one of the
// two is shown), "cancelButton", "serverChoice", "showPassword" (the eye,
// whose image name is in its property kImageNameProperty), "spinner", and
// the OK button "okButton".
//
// Threads. The sheet observes "SRPAuthenticated" on the fast engine's center
// itself: the observer runs on the engine's thread and only reads "Result"
// there; everything else happens on the main thread. startSpinner() and
// stopSpinner() may be called from any thread. All other members are for the
// main thread.
//
// Opened window-modal with open() on the main window; closed with done(0),
// on "Authenticated" or by the user (Cancel, Escape, the close box), never
// by a failure.
class LoginViewController : public QDialog {
    Q_OBJECT

public:
    // The property of the eye button that names its image.
    static constexpr char kImageNameProperty[] = "imageName";

    // Makes the sheet and loads it: from then on it follows the fast
    // engine's logins, and it may already have started the automatic login.
    explicit LoginViewController(QWidget* parent = nullptr);
    ~LoginViewController() override;
    LoginViewController(const LoginViewController&) = delete;
    LoginViewController& operator=(const LoginViewController&) = delete;

    // Whether the clear password field is the one on show.
    bool passwordShown() const { return passwordShown_; }

    // OK: logs in with what was typed, on the chosen server. With no server
    // to choose, an alert and nothing else.
    void confirmCredentials();
    // Cancel: aborts the fast engine's login when one runs, and closes.
    void closeCredentialsPopup();
    // The eye: swaps the visible password field.
    void showPassword();
    // Each password field copies its text into the other one.
    void txtPasswordChange(const QString& text);
    void clrPasswordChange(const QString& text);
    // Show and animate, or stop and hide, the spinner: both queue their work
    // on the main thread, in the order called.
    void startSpinner();
    void stopSpinner();

    // Escape and the close box are Cancel.
    void reject() override;

private:
    void buildView();
    void viewDidLoad();
    void observeLogins();
    void automaticLogin();
    // On the main thread, with the "Result" of a fast engine's login.
    void loginResult(const std::string& word);
    void dismissSheet();
    void stopObserving();

    QLineEdit* txtUsername_ = nullptr;
    QLineEdit* txtPassword_ = nullptr;
    QLineEdit* clrPassword_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QComboBox* serverChoice_ = nullptr;
    QToolButton* showPassword_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    QPushButton* okButton_ = nullptr;
    // The cancel button's other title, which it takes once logged in.
    QString cancelAlternateTitle_;

    // The registration of the observer of "SRPAuthenticated"; empty before
    // the sheet has loaded and after it was dismissed. A result that reaches
    // the main thread while it is empty is none of the sheet's.
    std::shared_ptr<ostrelcomm::NotificationCenter> authCenter_;
    std::optional<ostrelcomm::NotificationCenter::Token> authObserver_;
    bool passwordShown_ = false;
};

}  // namespace quorvel
