#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QPushButton;

namespace quorvel {

// The terms sheet "gcAcceptance", shown while the user has not accepted the
// terms of use. It names the page that holds them (its button "linkBtn",
// titled with the page's address, opens it in the browser) and has two ways
// out: "acceptButton" stores the acceptance ("GCAccepted") and closes the
// sheet for good; "declineButton" ends the program at once with status 0,
// storing nothing, so the sheet comes back at the next start. Escape and
// the close box do neither and leave the sheet on show.
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0).
class TOSViewController : public QDialog {
    Q_OBJECT

public:
    // The service's privacy and terms page.
    static constexpr char kLink[] = "https://www.quorvel.com/privacy-and-terms/";

    // How declining ends the program; QCoreApplication::exit by default.
    using ProgramExit = std::function<void(int status)>;
    // Installs `exit` (an empty one restores the default) and returns the
    // one that was in place.
    static ProgramExit setProgramExit(ProgramExit exit);

    explicit TOSViewController(QWidget* parent = nullptr);

    const QString link = QString::fromLatin1(kLink);

    // The link button: the page, in the desktop's browser.
    void showTOS();
    // Accept: stored at once, then closed.
    void accept() override;
    void decline();

    void reject() override;

private:
    void buildView();
    void viewWillAppear();

    QPushButton* linkBtn_ = nullptr;
};

}  // namespace quorvel
