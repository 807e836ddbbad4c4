#include "app/utils/AlertPresenter.h"

#include <QLabel>
#include <QMessageBox>

namespace quorvel {

void MessageBoxAlertPresenter::present(const QString& messageText, const QString& informativeText) {
    // Not exec(): a nested event loop would run other queued work inside this
    // call. The box deletes itself once the user closes it.
    auto* box = new QMessageBox(QMessageBox::Information, QString(), messageText, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(informativeText);
    // The text format applies to the message only; the informative text has
    // a label of its own.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

}  // namespace quorvel
