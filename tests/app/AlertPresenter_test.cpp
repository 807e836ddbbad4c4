// The application's alert as a message box: information icon, one button,
// both texts as plain text, modal, and the call returns before the user
// answers.

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <QMainWindow>

#include <vector>

#include "app/utils/AlertPresenter.h"

namespace {

QMessageBox* shownBox() {
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* candidate = qobject_cast<QMessageBox*>(widget); candidate && candidate->isVisible()) box = candidate;
    return box;
}

}  // namespace

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

    // A question on a window: modal for that window only, its buttons in the
    // order given with the first as default, Escape on "Cancel", and the
    // answer given once with the index of the button chosen.
    void aQuestionAnswersWithTheButtonChosen() {
        struct Case {
            const char* name;
            std::vector<QString> buttons;
            int press;  // -1: Escape
            int expected;
        };
        const std::vector<Case> cases = {
            {"second button", {"Cancel", "Delete"}, 1, 1},
            {"default button", {"Cancel", "Delete"}, 0, 0},
            {"escape is cancel", {"Share", "Cancel"}, -1, 1},
            {"escape without cancel", {"OK"}, -1, 0},
        };
        for (const Case& c : cases) {
            QMainWindow window;
            window.show();
            quorvel::MessageBoxAlertPresenter presenter;
            std::vector<int> answers;
            presenter.ask({"<b>Delete?</b>", "<i>x</i>", quorvel::AlertIcon::caution, c.buttons}, &window,
                          [&answers](int button) { answers.push_back(button); });
            QMessageBox* box = shownBox();
            QVERIFY2(box, c.name);
            QPointer<QMessageBox> watched(box);
            QCOMPARE(box->windowModality(), Qt::WindowModal);
            QCOMPARE(box->parentWidget(), &window);
            QCOMPARE(box->icon(), QMessageBox::Critical);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(box->text(), QString("<b>Delete?</b>"));
            const QList<QAbstractButton*> buttons = box->buttons();
            QCOMPARE(static_cast<std::size_t>(buttons.size()), c.buttons.size());
            // Laid out left to right in the order given.
            for (std::size_t i = 1; i < c.buttons.size(); ++i) {
                QAbstractButton* left = nullptr;
                QAbstractButton* right = nullptr;
                for (QAbstractButton* b : buttons) {
                    if (b->text() == c.buttons[i - 1]) left = b;
                    if (b->text() == c.buttons[i]) right = b;
                }
                QVERIFY(left && right);
                QVERIFY2(left->mapTo(box, QPoint(0, 0)).x() < right->mapTo(box, QPoint(0, 0)).x(), c.name);
            }
            QCOMPARE(box->defaultButton()->text(), c.buttons.front());
            if (c.press < 0) {
                QTest::keyClick(box, Qt::Key_Escape);
            } else {
                for (QAbstractButton* b : buttons)
                    if (b->text() == c.buttons[static_cast<std::size_t>(c.press)]) b->click();
            }
            QTRY_VERIFY2(watched.isNull(), c.name);
            QCOMPARE(answers, std::vector<int>{c.expected});
        }
    }
};

QTEST_MAIN(AlertPresenterTest)
#include "AlertPresenter_test.moc"
