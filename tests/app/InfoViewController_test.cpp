// The about sheet: the version and the build date, read by the stat command
// from the running program's file, the copyright, and "N.A." for what the
// application's information lacks.

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <optional>

#include "AppTestSupport.h"
#include "app/sheets/InfoViewController.h"
#include "app/utils/Appwise.h"
#include "app/window/SceneFactory.h"
#include "platform/AppInfo.h"

using namespace apptest;
using quorvel::InfoViewController;

namespace {

struct OpenSheet {
    OpenSheet() {
        window.show();
        sheet = qobject_cast<InfoViewController*>(quorvel::SceneFactory::shared().open("aboutApp", &window));
        if (!sheet) qFatal("No about sheet");
    }
    QLabel* label(const char* name) const { return sheet->findChild<QLabel*>(QString::fromLatin1(name)); }

    QWidget window;
    QPointer<InfoViewController> sheet;
};

// What `stat` says of a file's birth (%W), or of its last change (%Y) when
// the file system keeps no birth time, as yyyyMMdd in local time.
QString statDate(const QString& path) {
    const auto seconds = [&](const char* format) {
        QProcess stat;
        stat.start(QStringLiteral("stat"), {QStringLiteral("--format=") + QLatin1String(format), path});
        stat.waitForFinished(30'000);
        return QString::fromLatin1(stat.readAllStandardOutput()).trimmed().toLongLong();
    };
    qint64 when = seconds("%W");
    if (when == 0) when = seconds("%Y");
    return QDateTime::fromSecsSinceEpoch(when).toString(QStringLiteral("yyyyMMdd"));
}

}  // namespace

class InfoViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        saved = ostrelcomm::AppInfo::current();
        quorvel::Appwise::installShared(makeAppwise(uniqueSuite("about"), std::make_shared<RecordingAlertPresenter>(),
                                                    Terms::accepted));
    }
    void cleanupTestCase() { ostrelcomm::AppInfo::set(saved); }

    void theVersionIsFollowedByTheBuildDate() {
        ostrelcomm::AppInfo::set({"Quorvel Connect", "1.2.3", "7", "© 2026 Quorvel", "quorvel."});
        const QString date = statDate(QCoreApplication::applicationFilePath());
        QCOMPARE(date.size(), qsizetype(8));
        OpenSheet s;
        QCOMPARE(s.label("versionLabel")->text(), QStringLiteral("Version: 1.2.3-") + date);
        QCOMPARE(s.label("copyrightLabel")->text(), QStringLiteral("© 2026 Quorvel"));
        QVERIFY(s.label("internalUse")->isHidden());
    }

    void missingEntriesShowNA() {
        ostrelcomm::AppInfo::set({"Quorvel Connect", "", "7", "", "quorvel."});
        OpenSheet s;
        QCOMPARE(s.label("versionLabel")->text(),
                 QStringLiteral("Version: N.A.-") + statDate(QCoreApplication::applicationFilePath()));
        QCOMPARE(s.label("copyrightLabel")->text(), QStringLiteral("N.A."));
    }

    void aFileThatCannotBeReadHasNoBuildDate() {
        QCOMPARE(InfoViewController::compileDate(QStringLiteral("/nonexistent/quorvel-connect")), std::nullopt);
        QCOMPARE(InfoViewController::compileDate(QString()), std::nullopt);
    }

private:
    ostrelcomm::AppInfo saved;
};

QTEST_MAIN(InfoViewControllerTest)
#include "InfoViewController_test.moc"
