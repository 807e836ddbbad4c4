#pragma once

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace quorvel {

// The icon an alert shows.
enum class AlertIcon { information, warning, caution };

// An alert that waits for the user's answer: a message, an informative text,
// an icon and its buttons, left to right in the order given. The first button
// is the default (Return); Escape chooses the button titled with the
// localized "Cancel", or the first one when none is.
struct AlertQuestion {
    QString messageText;
    QString informativeText;
    AlertIcon icon = AlertIcon::warning;
    std::vector<QString> buttons;
};

// Shows the alerts of every screen. Called on the main thread only; every
// call returns without waiting for the user.
class AlertPresenter {
public:
    // Called with the index of the button chosen, on the main thread, once.
    using Answer = std::function<void(int button)>;

    virtual ~AlertPresenter() = default;
    // The simple alert: the information icon and one button, modal for the
    // whole application.
    virtual void present(const QString& messageText, const QString& informativeText) = 0;
    // A question, modal for `window` (for the application when null). A
    // question without buttons gets one, "OK".
    virtual void ask(const AlertQuestion& question, QWidget* window, Answer answer) = 0;
};

// The alerts as message boxes. Every text is shown as plain text: an
// informative text may come from a server's error description, and a message
// may name a remote item, neither of which may be read as markup.
class MessageBoxAlertPresenter : public AlertPresenter {
public:
    void present(const QString& messageText, const QString& informativeText) override;
    void ask(const AlertQuestion& question, QWidget* window, Answer answer) override;
};

}  // namespace quorvel
