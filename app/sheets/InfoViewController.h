#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <optional>

class QLabel;

namespace quorvel {

// The about sheet "aboutApp": "versionLabel" reads "Version: " and the
// application's short version ("N.A." when it has none), then "-" and the
// build date as yyyyMMdd in local time when it is known; "copyrightLabel"
// the copyright text ("N.A." when none); "internalUse" is always hidden.
// Worked out afresh each time the sheet is made.
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0) ("doCloseButton", Escape, the close box).
class InfoViewController : public QDialog {
    Q_OBJECT

public:
    explicit InfoViewController(QWidget* parent = nullptr);

    // The build date: when the running program's file was made (its birth
    // time), else when it was last written; none when neither can be read.
    static std::optional<QDateTime> compileDate();
    // The same of any file.
    static std::optional<QDateTime> compileDate(const QString& executable);

    void doClose();
    void reject() override;

private:
    void buildView();
    void viewDidLoad();

    QLabel* versionLabel_ = nullptr;
    QLabel* copyrightLabel_ = nullptr;
    QLabel* internalUse_ = nullptr;
};

}  // namespace quorvel
