// The preferences sheet writes each choice through to the settings file at
// once: the pop-up's items as 0, 1 and 2, the check box with one
// "showFullLogChanged" per change; it opens on what is stored.

#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "app/sheets/PreferencesViewController.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/window/SceneFactory.h"
#include "support/NotificationRecorder.h"

using namespace apptest;
using ostrelcomm::ConflictingBehaviours;
using quorvel::Appwise;
using quorvel::PreferencesViewController;

namespace {

struct OpenSheet {
    OpenSheet() {
        window.show();
        sheet = qobject_cast<PreferencesViewController*>(quorvel::SceneFactory::shared().open("preferences", &window));
        if (!sheet) qFatal("No preferences sheet");
    }
    QCheckBox* showFullLog() const { return sheet->findChild<QCheckBox*>(QStringLiteral("showFullLog")); }
    QComboBox* behaviour() const { return sheet->findChild<QComboBox*>(QStringLiteral("sendingConflictBehaviour")); }

    QWidget window;
    QPointer<PreferencesViewController> sheet;
};

QString stored(const std::string& suite, const char* key) {
    QSettings file(settingsFile(suite), QSettings::IniFormat);
    return file.value(QString::fromLatin1(key)).toString();
}

}  // namespace

class PreferencesViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        suite = uniqueSuite("preferences");
        appwise = &Appwise::installShared(makeAppwise(suite, std::make_shared<RecordingAlertPresenter>(),
                                                      Terms::accepted));
    }

    void eachItemIsStoredAsItsIndex() {
        OpenSheet s;
        QCOMPARE(s.behaviour()->count(), 3);
        QCOMPARE(s.behaviour()->currentIndex(), 0);
        QTest::keyClick(s.behaviour(), Qt::Key_Down);
        QCOMPARE(stored(suite, "sendingConflictBehaviour"), QStringLiteral("1"));
        QCOMPARE(appwise->setup().sendingConflictBehaviour, ConflictingBehaviours::alwaysReplace);
        QTest::keyClick(s.behaviour(), Qt::Key_Down);
        QCOMPARE(stored(suite, "sendingConflictBehaviour"), QStringLiteral("2"));
        QCOMPARE(appwise->setup().sendingConflictBehaviour, ConflictingBehaviours::rename);
        QTest::keyClick(s.behaviour(), Qt::Key_Home);
        QCOMPARE(stored(suite, "sendingConflictBehaviour"), QStringLiteral("0"));
        QCOMPARE(appwise->setup().sendingConflictBehaviour, ConflictingBehaviours::skipIfEqual);
    }

    void itOpensOnTheStoredBehaviourAndLogsIt() {
        quorvel::AppSetup setup = appwise->setup();
        setup.sendingConflictBehaviour = ConflictingBehaviours::rename;
        setup.showFullLog = true;
        appwise->setSetup(setup);
        appwise->saveSetup();
        const QString before = readText(settingsFile(suite));
        LogCapture log;

        OpenSheet s;
        QCOMPARE(s.behaviour()->currentIndex(), 2);
        QVERIFY(s.showFullLog()->isChecked());
        QVERIFY(log.contains("Hashvalue is 2"));
        // Opening writes nothing.
        QCOMPARE(readText(settingsFile(suite)), before);
    }

    void theCheckBoxIsStoredAndAnnouncedOncePerChange() {
        testsupport::NotificationRecorder changes(appwise->notifications(),
                                                  {quorvel::kShowFullLogChangedNotification});
        OpenSheet s;
        QVERIFY(!s.showFullLog()->isChecked());
        QTest::keyClick(s.showFullLog(), Qt::Key_Space);
        QCOMPARE(changes.all().size(), std::size_t{1});
        QCOMPARE(stored(suite, "showFullLog"), QStringLiteral("true"));
        QVERIFY(appwise->setup().showFullLog);
        QTest::keyClick(s.showFullLog(), Qt::Key_Space);
        QCOMPARE(changes.all().size(), std::size_t{2});
        QCOMPARE(stored(suite, "showFullLog"), QStringLiteral("false"));
        QVERIFY(!appwise->setup().showFullLog);

        QTest::keyClick(s.sheet, Qt::Key_Escape);
        QTRY_VERIFY(!s.sheet);
        QCOMPARE(changes.all().size(), std::size_t{2});
    }

private:
    std::string suite;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(PreferencesViewControllerTest)
#include "PreferencesViewController_test.moc"
