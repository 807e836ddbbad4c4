// The alert of a communication error: the HTTPError's description shown as
// it came, and a notification without one only logged.

#include <QTest>

#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "app/utils/Appwise.h"
#include "app/utils/ShowCommError.h"
#include "http/HTTPError.h"

using namespace apptest;
using ostrelcomm::HTTPError;
using ostrelcomm::HTTPErrors;
using ostrelcomm::Notification;
using ostrelcomm::NullObject;
using ostrelcomm::UserInfo;

Q_DECLARE_METATYPE(UserInfo)

namespace {

// A shared Appwise whose alerts are recorded.
std::shared_ptr<RecordingAlertPresenter> installRecordingAppwise() {
    auto presenter = std::make_shared<RecordingAlertPresenter>();
    quorvel::Appwise::installShared(makeAppwise(uniqueSuite("comm-error"), presenter));
    return presenter;
}

}  // namespace

class ShowCommErrorTest : public QObject {
    Q_OBJECT

private slots:
    void theErrorsDescriptionIsShownAsItCame() {
        const auto presenter = installRecordingAppwise();
        const HTTPError error{"ItemAlreadyShared", HTTPErrors::badStatusCode, "<b>x</b>", std::int64_t{409}};
        int completions = 0;
        LogCapture log;

        quorvel::showCommError(Notification{"trustCreationTerminated", {{"Result", std::string("Error")},
                                                                        {"httpError", error}}},
                               [&] { ++completions; });

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QCOMPARE(shown.front().messageText, QString("Communication error"));
        QCOMPARE(shown.front().informativeText, QString("<b>x</b>"));
        QCOMPARE(completions, 1);
        QVERIFY(log.lines().empty());
    }

    void withoutAnHTTPErrorOnlyALogLine_data() {
        QTest::addColumn<UserInfo>("userInfo");
        QTest::newRow("no userInfo") << UserInfo{};
        QTest::newRow("no httpError") << UserInfo{{"Result", std::string("Error")}};
        QTest::newRow("the null object") << UserInfo{{"httpError", NullObject{}}};
        QTest::newRow("a text") << UserInfo{{"httpError", std::string("Server unreachable")}};
        QTest::newRow("an optional HTTPError")
            << UserInfo{{"httpError", std::optional<HTTPError>(HTTPError{{}, HTTPErrors::dataTaskError, "x", {}})}};
    }
    void withoutAnHTTPErrorOnlyALogLine() {
        QFETCH(UserInfo, userInfo);
        const auto presenter = installRecordingAppwise();
        int completions = 0;
        LogCapture log;

        quorvel::showCommError(Notification{"trustCreationTerminated", userInfo}, [&] { ++completions; });

        QVERIFY(presenter->shown().empty());
        QCOMPARE(log.lines(), std::vector<std::string>{quorvel::kInvalidCommErrorLog});
        QCOMPARE(completions, 1);
    }

    void theCompletionMayBeLeftOut() {
        const auto presenter = installRecordingAppwise();
        quorvel::showCommError(Notification{"any", {{"httpError", HTTPError{{}, HTTPErrors::dataTaskError, "", {}}}}});
        QCOMPARE(presenter->shown().size(), std::size_t{1});
    }

    // The error as a bridge event carries it: the same alert; none, the same
    // log line.
    void theErrorOfARelayedNotification() {
        const auto presenter = installRecordingAppwise();
        int completions = 0;
        LogCapture log;

        quorvel::showCommError(std::optional<HTTPError>(HTTPError{"X", HTTPErrors::badStatusCode, "<i>down</i>", {}}),
                               [&] { ++completions; });
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown().front().messageText, QString("Communication error"));
        QCOMPARE(presenter->shown().front().informativeText, QString("<i>down</i>"));
        QVERIFY(log.lines().empty());

        quorvel::showCommError(std::optional<HTTPError>(), [&] { ++completions; });
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(log.lines(), std::vector<std::string>{quorvel::kInvalidCommErrorLog});
        QCOMPARE(completions, 2);
    }
};

QTEST_MAIN(ShowCommErrorTest)
#include "ShowCommError_test.moc"
