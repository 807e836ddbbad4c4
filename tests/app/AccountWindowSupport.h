#pragma once

// The account window as its tests open it.

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "AppTestSupport.h"
#include "app/account/UserProfileViewController.h"
#include "app/window/SceneFactory.h"

namespace apptest {

// The account window opened on a window (one of its own unless another is
// given), as the main window opens it. Each test adds the outlets it reads.
struct AccountWindow {
    explicit AccountWindow(QWidget* on = nullptr) : window(on ? on : &ownWindow) {
        window->show();
        sheet = qobject_cast<quorvel::UserProfileViewController*>(
            quorvel::SceneFactory::shared().open("userProfile", window));
        if (!sheet) qFatal("The scene userProfile opened no account window");
    }
    AccountWindow(const AccountWindow&) = delete;
    AccountWindow& operator=(const AccountWindow&) = delete;

    template <class Widget>
    Widget* outlet(const char* name) const {
        return apptest::outlet<Widget>(sheet, name);
    }
    bool open() const { return sheet && sheet->isVisible(); }
    // The profile reached the window.
    bool filled() const { return sheet && !outlet<QLabel>("lblCurrentPlan")->text().isEmpty(); }

    QWidget ownWindow;
    QWidget* window;
    QPointer<quorvel::UserProfileViewController> sheet;
};

}  // namespace apptest
