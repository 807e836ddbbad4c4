// Every sheet the main window opens, by its scene identifier: Return acts as
// the sheet's confirm button and Escape as its cancel button, wherever the
// keyboard focus stands once the sheet has been filled in as a user would.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "FakeCameraProvider.h"
#include "StandInTestSupport.h"
#include "app/utils/Appwise.h"
#include "app/utils/SelectedItems.h"
#include "app/window/SceneFactory.h"

using namespace apptest;
using quorvel::Appwise;

namespace {

// What a user types before the key: into the field of this object name.
struct Typed {
    QString field;
    QString text;
};
using TypedList = std::vector<Typed>;

// Typed as the account's own name and password.
constexpr char kUserToken[] = "$user";
constexpr char kPasswordToken[] = "$password";
// The strong password the new-account sheet accepts.
constexpr char kNewPassword[] = "Seven kites over the harbour at dawn";

}  // namespace

Q_DECLARE_METATYPE(TypedList)

class ScenesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        standIn();
        camera = std::make_shared<FakeCamera>();
        cameraInstall = std::make_unique<FakeCameraInstall>(camera);
        appwise = &Appwise::installShared(
            makeAppwise(uniqueSuite("scenes"), std::make_shared<RecordingAlertPresenter>(), Terms::accepted));
        account = std::make_unique<StandInAccount>("scenes");
        account->file("f");
        QVERIFY(logIn(*appwise, *account));
        // The own file the item sheets work on, and the local folder of the
        // new local folder sheet.
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"f"}));
        QVERIFY(local.isValid());
        appwise->setLocalPath(local.path());
        appwise->setRemoteDirectoryInfo(folderListing(*appwise, "root"));
    }

    void cleanupTestCase() { cameraInstall.reset(); }

    void cleanup() { delete window; }

    // scene, what is typed first, where the focus then is (empty: where the
    // sheet put it), the confirm button (empty: the sheet has none, and
    // Return leaves it open), and whether Escape closes it.
    void returnAndEscape_data() {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<TypedList>("typed");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<bool>("escapeCloses");
        const auto row = [](const char* scene, TypedList typed, const char* focus, const char* confirm,
                            bool escapeCloses) {
            QTest::newRow(scene) << QString::fromLatin1(scene) << std::move(typed) << QString::fromLatin1(focus)
                                 << QString::fromLatin1(confirm) << escapeCloses;
        };
        // The terms are accepted or declined: Escape is no way out of them.
        row(quorvel::kGCAcceptanceScene, {}, "", "acceptButton", false);
        row(quorvel::kAboutAppScene, {}, "", "doCloseButton", true);
        row(quorvel::kPreferencesScene, {}, "", "doCloseButton", true);
        row(quorvel::kNewRemoteDirectoryScene, {{"newFolderName", "Fresh remote"}}, "newFolderName",
            "confirmPushButton", true);
        row(quorvel::kCreateLocalDirectoryScene, {{"newFolderName", "Fresh local"}}, "newFolderName",
            "confirmPushButton", true);
        row(quorvel::kRenameItemScene, {{"itemName", "g"}}, "itemName", "renameButton", true);
        row(quorvel::kItemInfoScene, {}, "", "closeButton", true);
        // Return in the search field searches; from the table it shares.
        row(quorvel::kShareItemScene, {}, "trustedUsersTable", "shareButton", true);
        // A window of its own with fields on every tab: Return closes none.
        row(quorvel::kUserProfileScene, {}, "", "", true);
        // Last: these two log in again, or make another account.
        row(quorvel::kGetCredentialsScene, {{"txtUsername", kUserToken}, {"txtPassword", kPasswordToken}},
            "txtPassword", "okButton", true);
        row(quorvel::kCreateNewUserScene,
            {{"username", "scenes-new"},
             {"fullAccessPassword", kNewPassword},
             {"fullAccessPasswordVerification", kNewPassword}},
            "fullAccessPasswordVerification", "btnCreate", true);
    }
    void returnAndEscape() {
        QFETCH(QString, scene);
        QFETCH(TypedList, typed);
        QFETCH(QString, focus);
        QFETCH(QString, confirm);
        QFETCH(bool, escapeCloses);

        // Return.
        QPointer<QDialog> sheet = open(scene, typed, focus);
        QVERIFY(sheet);
        auto* button = confirm.isEmpty() ? nullptr : sheet->findChild<QAbstractButton*>(confirm);
        QVERIFY(confirm.isEmpty() || (button && button->isEnabled()));
        std::unique_ptr<QSignalSpy> confirmed;
        if (button) confirmed = std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked);
        QTest::keyClick(keyTarget(sheet), Qt::Key_Return);
        if (confirmed)
            QCOMPARE(confirmed->count(), 1);
        else
            QVERIFY(sheet && sheet->isVisible());
        // What the confirmation started has ended before the next sheet opens.
        QVERIFY(settled());
        delete window;

        // Escape: the sheet goes as its cancel button takes it, and nothing
        // is confirmed.
        sheet = open(scene, typed, focus);
        QVERIFY(sheet);
        button = confirm.isEmpty() ? nullptr : sheet->findChild<QAbstractButton*>(confirm);
        if (button) confirmed = std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked);
        QTest::keyClick(keyTarget(sheet), Qt::Key_Escape);
        QCoreApplication::processEvents();
        QCOMPARE(!sheet || !sheet->isVisible(), escapeCloses);
        if (button) QCOMPARE(confirmed->count(), 0);
    }

private:
    // The sheet opened on a window of its own, filled in, the focus set.
    QPointer<QDialog> open(const QString& scene, const TypedList& typed, const QString& focus) {
        window = new QWidget;
        window->resize(900, 700);
        window->show();
        if (!QTest::qWaitForWindowExposed(window)) return nullptr;
        QPointer<QDialog> sheet = quorvel::SceneFactory::shared().open(scene.toStdString(), window);
        if (!sheet || !QTest::qWaitForWindowExposed(sheet)) return nullptr;
        QApplication::setActiveWindow(sheet);
        // The answers the sheet asked for when it opened, in, before anything
        // is typed over what they fill in.
        if (!settled()) return nullptr;
        for (const Typed& entry : typed) {
            auto* field = sheet->findChild<QLineEdit*>(entry.field);
            if (!field) return nullptr;
            field->setFocus();
            QString text = entry.text;
            if (text == kUserToken) text = QString::fromStdString(account->user());
            if (text == kPasswordToken) text = QString::fromLatin1(kStandInPassword);
            QTest::keyClicks(field, text);
        }
        if (!focus.isEmpty()) {
            auto* target = sheet->findChild<QWidget*>(focus);
            if (!target) return nullptr;
            target->setFocus();
        }
        return sheet;
    }

    // Both engines idle, and what they reported taken in.
    static bool settled() {
        const bool idle = QTest::qWaitFor(
            [] {
                return engineIdle(*Appwise::shared().engine(quorvel::CommTasks::fastTask)) &&
                       engineIdle(*Appwise::shared().engine(quorvel::CommTasks::slowTask));
            },
            kStandInGuardMs);
        for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
        return idle;
    }

    // Where the key goes: the widget with the focus inside the sheet, else
    // the sheet.
    static QWidget* keyTarget(QDialog* sheet) {
        QWidget* focused = sheet->focusWidget();
        return focused ? focused : sheet;
    }

    Appwise* appwise = nullptr;
    std::shared_ptr<FakeCamera> camera;
    std::unique_ptr<FakeCameraInstall> cameraInstall;
    std::unique_ptr<StandInAccount> account;
    TemporaryFolder local;
    QPointer<QWidget> window;
};

QTEST_MAIN(ScenesTest)
#include "Scenes_test.moc"
