#include "app/utils/AlertPresenter.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <memory>
#include <utility>

#include "app/Extensions/Localize.h"

namespace quorvel {

namespace {

QMessageBox* makeBox(QMessageBox::Icon icon, const QString& messageText, const QString& informativeText,
                     QWidget* parent) {
    auto* box = new QMessageBox(icon, QString(), messageText, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(informativeText);
    // The text format applies to the message only; the informative text has
    // a label of its own.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    return box;
}

QMessageBox::Icon boxIcon(AlertIcon icon) {
    switch (icon) {
        case AlertIcon::information:
            return QMessageBox::Information;
        case AlertIcon::warning:
            return QMessageBox::Warning;
        case AlertIcon::caution:
            return QMessageBox::Critical;
    }
    return QMessageBox::Warning;
}

}  // namespace

void MessageBoxAlertPresenter::present(const QString& messageText, const QString& informativeText) {
    // Not exec(): a nested event loop would run other queued work inside this
    // call. The box deletes itself once the user closes it.
    QMessageBox* box = makeBox(QMessageBox::Information, messageText, informativeText, nullptr);
    box->addButton(QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void MessageBoxAlertPresenter::ask(const AlertQuestion& question, QWidget* window, Answer answer) {
    QMessageBox* box = makeBox(boxIcon(question.icon), question.messageText, question.informativeText, window);
    std::vector<QString> titles = question.buttons;
    if (titles.empty()) titles.push_back(QString::fromStdString(localize("OK")));
    const QString cancel = QString::fromStdString(localize("Cancel"));
    std::vector<QPushButton*> buttons;
    for (const QString& title : titles) {
        // One role for all: the box then keeps the order the buttons were
        // given in, which is the order the question names them.
        buttons.push_back(box->addButton(title, QMessageBox::ActionRole));
    }
    box->setDefaultButton(buttons.front());
    QPushButton* escape = buttons.front();
    for (QPushButton* button : buttons)
        if (button->text() == cancel) {
            escape = button;
            break;
        }
    box->setEscapeButton(escape);
    // The answer is called once, whichever way the box ends.
    auto pending = std::make_shared<Answer>(std::move(answer));
    QObject::connect(box, &QMessageBox::buttonClicked, box, [buttons, pending](QAbstractButton* clicked) {
        int index = 0;
        for (std::size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i] == clicked) index = static_cast<int>(i);
        if (!*pending) return;
        Answer call = std::exchange(*pending, Answer{});
        call(index);
    });
    if (window) {
        box->setWindowModality(Qt::WindowModal);
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}

}  // namespace quorvel
