// The selection announces every assignment of each of its lists, with the
// list's place and count, also when the list is emptied; without a center it
// announces nothing.

#include <QTest>

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RemoteRecords.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/SelectedItems.h"
#include "support/NotificationRecorder.h"

using quorvel::SelectedItems;
using Assign = std::function<void(SelectedItems&, std::size_t count)>;

Q_DECLARE_METATYPE(Assign)

namespace {

ostrelcomm::RemoteItemInfo ownItem(int n) { return apptest::ownItem("own-" + std::to_string(n)); }

ostrelcomm::SharedItem sharedItem(int n) { return apptest::sharedItem("shared-" + std::to_string(n), "share"); }

template <class T>
std::vector<T> listOf(std::size_t count, T (*make)(int)) {
    std::vector<T> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(make(static_cast<int>(i)));
    return out;
}

quorvel::Metadata localFile(int n) {
    quorvel::Metadata entry;
    entry.name = "local-" + std::to_string(n);
    return entry;
}

}  // namespace

class SelectedItemsTest : public QObject {
    Q_OBJECT

private slots:
    void eachAssignmentIsAnnouncedOnce_data() {
        QTest::addColumn<Assign>("assign");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("countKey");
        QTest::newRow("local") << Assign([](SelectedItems& s, std::size_t n) { s.setLocalFiles(listOf(n, &localFile)); })
                               << QString(quorvel::kLocationLocal) << QString(quorvel::kSelectedLocalFilesKey);
        QTest::newRow("own") << Assign([](SelectedItems& s, std::size_t n) { s.setOwnElements(listOf(n, &ownItem)); })
                             << QString(quorvel::kLocationOwn) << QString(quorvel::kSelectedRemoteFilesKey);
        QTest::newRow("shares") << Assign([](SelectedItems& s, std::size_t n) { s.setShares(listOf(n, &sharedItem)); })
                                << QString(quorvel::kLocationShares) << QString(quorvel::kSelectedRemoteFilesKey);
    }
    void eachAssignmentIsAnnouncedOnce() {
        QFETCH(Assign, assign);
        QFETCH(QString, location);
        QFETCH(QString, countKey);
        auto center = std::make_shared<ostrelcomm::NotificationCenter>();
        testsupport::NotificationRecorder recorder(center, {quorvel::kChangedFileSelectionNotification});
        SelectedItems selected(center);

        // The same count twice, then none: each assignment is one announcement.
        for (const std::size_t count : {3, 3, 0}) assign(selected, count);

        const auto posted = recorder.all();
        QCOMPARE(posted.size(), std::size_t{3});
        const std::int64_t expected[] = {3, 3, 0};
        for (std::size_t i = 0; i < posted.size(); ++i) {
            const auto& info = posted[i].userInfo;
            QCOMPARE(info.size(), std::size_t{2});
            const auto* where = ostrelcomm::userInfoValue<std::string>(info, quorvel::kLocationKey);
            QVERIFY(where);
            QCOMPARE(QString::fromStdString(*where), location);
            const auto* count = ostrelcomm::userInfoValue<std::int64_t>(info, countKey.toStdString());
            QVERIFY(count);
            QCOMPARE(*count, expected[i]);
        }
    }

    void withoutACenterNothingIsAnnounced() {
        SelectedItems selected;
        selected.setOwnElements(listOf(2, &ownItem));
        QCOMPARE(selected.ownElements().size(), std::size_t{2});

        auto center = std::make_shared<ostrelcomm::NotificationCenter>();
        testsupport::NotificationRecorder recorder(center, {quorvel::kChangedFileSelectionNotification});
        selected.setNotifications(center);
        selected.setShares(listOf(1, &sharedItem));
        QCOMPARE(recorder.all().size(), std::size_t{1});
    }
};

QTEST_APPLESS_MAIN(SelectedItemsTest)
#include "SelectedItems_test.moc"
