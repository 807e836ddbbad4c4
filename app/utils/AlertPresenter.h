#pragma once

#include <QString>

namespace quorvel {

// Shows the simple alert of every screen: a message, an informative text, the
// information icon and one button. Called on the main thread only; returns
// without waiting for the user.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void present(const QString& messageText, const QString& informativeText) = 0;
};

// The alert as a message box, modal for the whole application. Both texts are
// shown as plain text: an informative text may come from a server's error
// description, which must never be read as markup.
class MessageBoxAlertPresenter : public AlertPresenter {
public:
    void present(const QString& messageText, const QString& informativeText) override;
};

}  // namespace quorvel
