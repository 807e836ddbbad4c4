// The application's alert as a message box: information icon, one button,
// both texts as plain text, modal, and the call returns before the user
// answers.

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "app/utils/AlertPresenter.h"

class AlertPresenterTest : public QObject {
    Q_OBJECT

private slots:
    void theAlertIsAPlainTextInformationBox() {
        quorvel::MessageBoxAlertPresenter presenter;
        // A server's error description could hold markup; it must show as typed.
        const QString message = "<b>Not bold</b>";
        const QString informative = "<img src=\"file:///etc/passwd\"> <i>not italic</i>";
        presenter.present(message, informative);

        QMessageBox* box = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* candidate = qobject_cast<QMessageBox*>(widget)) box = candidate;
        QVERIFY(box);
        QPointer<QMessageBox> watched(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QCOMPARE(box->icon(), QMessageBox::Information);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->text(), message);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->informativeText(), informative);
        auto* informativeLabel = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        QVERIFY(informativeLabel);
        QCOMPARE(informativeLabel->textFormat(), Qt::PlainText);

        // Answering closes it, and the box goes.
        box->buttons().front()->click();
        QTRY_VERIFY(watched.isNull());
    }
};

QTEST_MAIN(AlertPresenterTest)
#include "AlertPresenter_test.moc"
