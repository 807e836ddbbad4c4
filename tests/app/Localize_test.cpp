// The application's string tables.

#include <QTest>

#include <string>

#include "app/Extensions/Localize.h"
#include "jobs/JobType.h"

class LocalizeTest : public QObject {
    Q_OBJECT

private slots:
    void lookUp_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("expected");
        QTest::newRow("present") << "jobType.authenticate" << quorvel::kCommStatesTable << "Log in";
        QTest::newRow("missing key") << "jobType.noSuchJob" << quorvel::kCommStatesTable << "jobType.noSuchJob";
        QTest::newRow("key of another table") << "jobType.authenticate" << quorvel::kLocalizableTable
                                              << "jobType.authenticate";
        QTest::newRow("unknown table") << "jobType.authenticate" << "NoSuchTable" << "jobType.authenticate";
        QTest::newRow("empty key") << "" << quorvel::kLocalizableTable << "";
    }
    void lookUp() {
        QFETCH(QString, key);
        QFETCH(QString, table);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(quorvel::localize(key.toStdString(), table.toStdString())), expected);
    }

    // The jobs list labels every kind of job.
    void everyJobTypeHasALabel() {
        for (std::size_t i = 0; i < ostrelcomm::kJobTypeCount; ++i) {
            const std::string key = "jobType." + std::string(name(static_cast<ostrelcomm::JobType>(i)));
            const std::string label = quorvel::localize(key, quorvel::kCommStatesTable);
            QVERIFY2(label != key && !label.empty(), key.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(LocalizeTest)
#include "Localize_test.moc"
