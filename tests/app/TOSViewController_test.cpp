// The terms sheet: declining ends the program with status 0 and stores
// nothing; accepting stores "GCAccepted" before the sheet closes; the link
// button opens the terms page; Escape is neither.

#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <vector>

#include "AppTestSupport.h"
#include "app/sheets/TOSViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/Workspace.h"
#include "app/window/SceneFactory.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::TOSViewController;

namespace {

class RecordingWorkspace : public quorvel::Workspace {
public:
    bool open(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<QUrl> opened;
};

struct OpenSheet {
    OpenSheet() {
        window.show();
        sheet = qobject_cast<TOSViewController*>(quorvel::SceneFactory::shared().open("gcAcceptance", &window));
        if (!sheet) qFatal("No terms sheet");
    }
    QPushButton* button(const char* name) const { return outlet<QPushButton>(sheet, name); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    bool open() const { return sheet && sheet->isVisible(); }

    QWidget window;
    QPointer<TOSViewController> sheet;
};

// "GCAccepted" as the settings file holds it: absent, or its value.
QVariant storedAcceptance(const std::string& suite) {
    QSettings file(settingsFile(suite), QSettings::IniFormat);
    return file.value(QStringLiteral("GCAccepted"));
}

}  // namespace

class TOSViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        suite = uniqueSuite("terms");
        appwise = &Appwise::installShared(makeAppwise(suite));
        exits.clear();
        TOSViewController::setProgramExit([this](int status) { exits.push_back(status); });
        workspace = std::make_shared<RecordingWorkspace>();
        quorvel::Workspace::installShared(workspace);
    }

    void cleanup() {
        TOSViewController::setProgramExit({});
        quorvel::Workspace::installShared(nullptr);
    }

    void declineEndsTheProgramAndStoresNothing() {
        OpenSheet s;
        s.click("declineButton");
        QCOMPARE(exits, std::vector<int>{0});
        QVERIFY(!storedAcceptance(suite).isValid());
        QVERIFY(!readText(settingsFile(suite)).contains(QStringLiteral("GCAccepted")));
        QVERIFY(!appwise->gcAccepted());
    }

    void acceptIsStoredBeforeTheSheetCloses() {
        OpenSheet s;
        QVariant whenClosed;
        QObject::connect(s.sheet, &QDialog::finished, s.sheet, [&](int) { whenClosed = storedAcceptance(suite); });
        s.click("acceptButton");
        QTRY_VERIFY(!s.open());
        QCOMPARE(whenClosed.toString(), QStringLiteral("true"));
        QVERIFY(appwise->gcAccepted());
        QVERIFY(exits.empty());
    }

    void theLinkButtonOpensTheTermsPage() {
        OpenSheet s;
        QCOMPARE(s.button("linkBtn")->text(), QString::fromLatin1(TOSViewController::kLink));
        QVERIFY(QUrl(QString::fromLatin1(TOSViewController::kLink)).scheme() == QStringLiteral("https"));
        s.click("linkBtn");
        QCOMPARE(workspace->opened, std::vector<QUrl>{QUrl(QString::fromLatin1(TOSViewController::kLink))});
        QVERIFY(s.open());
    }

    // Only accepting or declining ends the sheet.
    void escapeNeitherAcceptsNorDeclines() {
        OpenSheet s;
        QTest::keyClick(s.sheet, Qt::Key_Escape);
        s.sheet->close();
        QCoreApplication::processEvents();
        QVERIFY(s.open());
        QVERIFY(exits.empty());
        QVERIFY(!storedAcceptance(suite).isValid());
    }

private:
    std::string suite;
    Appwise* appwise = nullptr;
    std::vector<int> exits;
    std::shared_ptr<RecordingWorkspace> workspace;
};

QTEST_MAIN(TOSViewControllerTest)
#include "TOSViewController_test.moc"
