// The remote table's cells: the text and cell identifier of each column, the
// icon of each kind of row, the badge of shared items, and the rows of cut
// items drawn in the tertiary label colour for as long as the clipboard
// holds them to be moved.

#include <QBrush>
#include <QGuiApplication>
#include <QPalette>
#include <QIcon>
#include <QImage>
#include <QTest>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "RemoteRecords.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/SystemColor.h"
#include "app/utils/Pasteboard.h"
#include "app/window/FileTableCell.h"
#include "app/window/RemoteFilesTableModel.h"
#include "app/window/RemoteItemsTableContent.h"

using quorvel::RemoteFilesTableModel;
using quorvel::RemoteItemsTableContent;
using quorvel::SystemColor;
using quorvel::TableRemoteItemType;
using namespace std::chrono_literals;

namespace {

constexpr std::chrono::sys_seconds kDate{std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + 5h + 6min};

// The row's icon as drawn at its own size. Compared premultiplied, as a
// pixmap holds it: half-transparent pixels do not survive the way back.
QImage decoration(const RemoteFilesTableModel& model, int row) {
    const QIcon icon = model.data(model.index(row, 0), Qt::DecorationRole).value<QIcon>();
    if (icon.isNull()) return {};
    return icon.pixmap(icon.availableSizes().value(0)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage plain(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

QColor foreground(const RemoteFilesTableModel& model, int row, int column) {
    return model.data(model.index(row, column), Qt::ForegroundRole).value<QBrush>().color();
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<std::string>)

class RemoteFilesTableModelTest : public QObject {
    Q_OBJECT

private slots:
    void cellsByColumn() {
        RemoteItemsTableContent rows;
        rows.addItem("SHARES", "Shared with Me", TableRemoteItemType::SHARESDIR, std::nullopt, std::nullopt, {});
        rows.addItem("d", "Folder", TableRemoteItemType::DIRECTORY, kDate, 5'300'000, {});
        rows.addItem("f", "empty.txt", TableRemoteItemType::FILE, kDate, 0, {});
        quorvel::Pasteboard board;
        const RemoteFilesTableModel model(rows, board);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 3);

        const QString date = quorvel::Formatters::date(kDate, quorvel::Formatters::DateStyle::medium,
                                                       quorvel::Formatters::DateStyle::short_);
        const std::vector<std::vector<QString>> texts = {
            {"Shared with Me", "", ""},
            // A folder shows the size the server records for it.
            {"Folder", "5.3 MB", date},
            {"empty.txt", "Zero KB", date},
        };
        const QStringList identifiers = {"remNameCellID", "remSizeCellID", "remModDateCellID"};
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 3; ++column) {
                const QModelIndex index = model.index(row, column);
                QCOMPARE(model.data(index, Qt::DisplayRole).toString(), texts[row][column]);
                QCOMPARE(model.data(index, quorvel::kCellIdentifierRole).toString(), identifiers[column]);
                if (column > 0) QVERIFY(!model.data(index, Qt::DecorationRole).isValid());
            }
        // A column the table does not have makes no cell.
        const auto none = model.remoteItemsCellData(rows.content[1], 3);
        QVERIFY(none.identifier.isEmpty() && none.text.isEmpty() && none.icon.isNull());
    }

    // Each kind its own image, by name.
    void oneIconPerKind() {
        RemoteItemsTableContent rows;
        const std::vector<TableRemoteItemType> kinds = {TableRemoteItemType::ROOT, TableRemoteItemType::FILE,
                                                        TableRemoteItemType::DIRECTORY, TableRemoteItemType::PEER,
                                                        TableRemoteItemType::SHARESDIR};
        for (const auto kind : kinds) rows.addItem("u", "n", kind, std::nullopt, std::nullopt, {});
        quorvel::Pasteboard board;
        const RemoteFilesTableModel model(rows, board);

        const QColor label = quorvel::systemColor(SystemColor::label);
        const char* names[] = {"cautionIcon", "GenericDocumentIcon", "GenericFolderIcon", "userIcon",
                               "sharedFolderIcon"};
        for (int row = 0; row < 5; ++row)
            QVERIFY2(decoration(model, row) ==
                         plain(quorvel::tintedImage(quorvel::namedImage(QString::fromLatin1(names[row])), label)),
                     names[row]);
        std::vector<QImage> drawn;
        for (int row = 0; row < 5; ++row) {
            const QImage icon = decoration(model, row);
            QVERIFY2(!icon.isNull(), qPrintable(QString::number(row)));
            for (const QImage& earlier : drawn) QVERIFY2(icon != earlier, qPrintable(QString::number(row)));
            drawn.push_back(icon);
        }
    }

    // Only the exact text "shared" among the attributes badges the icon; the
    // badge is drawn in the system blue over the lower right quarter.
    void sharedItemsWearTheBadge_data() {
        QTest::addColumn<std::vector<std::string>>("attrib");
        QTest::addColumn<bool>("badged");
        QTest::newRow("shared") << std::vector<std::string>{"shared"} << true;
        QTest::newRow("among others") << std::vector<std::string>{"x", "shared"} << true;
        QTest::newRow("capital") << std::vector<std::string>{"Shared"} << false;
        QTest::newRow("trailing blank") << std::vector<std::string>{"shared "} << false;
        QTest::newRow("none") << std::vector<std::string>{} << false;
    }
    void sharedItemsWearTheBadge() {
        QFETCH(std::vector<std::string>, attrib);
        QFETCH(bool, badged);
        RemoteItemsTableContent rows;
        rows.addItem("plain", "p", TableRemoteItemType::DIRECTORY, std::nullopt, std::nullopt, {});
        rows.addItem("u", "n", TableRemoteItemType::DIRECTORY, std::nullopt, std::nullopt, attrib);
        quorvel::Pasteboard board;
        const RemoteFilesTableModel model(rows, board);

        const QImage plain = decoration(model, 0);
        const QImage icon = decoration(model, 1);
        QCOMPARE(icon != plain, badged);
        if (!badged) return;
        const QPoint centre(icon.width() * 3 / 4, icon.height() * 3 / 4);
        QCOMPARE(icon.pixelColor(centre).convertTo(QColor::Rgb), quorvel::systemColor(SystemColor::blue));
        QCOMPARE(icon.pixelColor(0, 0), plain.pixelColor(0, 0));
    }

    // Rows of cut items: text and icon in the tertiary label colour while the
    // clipboard holds them to be moved; copying them, or emptying the
    // clipboard, draws them as the others again.
    void cutRowsAreDimmed() {
        // A label colour that a tint visibly changes.
        QPalette palette = QGuiApplication::palette();
        palette.setColor(QPalette::WindowText, QColor(30, 90, 200));
        QGuiApplication::setPalette(palette);
        const QColor label = quorvel::systemColor(SystemColor::label);
        const QColor tertiary = quorvel::systemColor(SystemColor::tertiaryLabel);
        // Rows of the kind whose image is a template here: the caution image
        // of the root.
        const QImage caution = quorvel::namedImage(QStringLiteral("cautionIcon"));
        QVERIFY(quorvel::isTemplateImage(caution));
        const QImage labelIcon = plain(quorvel::tintedImage(caution, label));
        const QImage tertiaryIcon = plain(quorvel::tintedImage(caution, tertiary));
        QVERIFY(labelIcon != tertiaryIcon);

        RemoteItemsTableContent rows;
        for (const char* uuid : {"a", "b", "c"})
            rows.addItem(uuid, uuid, TableRemoteItemType::ROOT, kDate, 1, {});
        quorvel::Pasteboard board;
        const RemoteFilesTableModel model(rows, board);
        // Per row: 'd' dimmed, 'n' normal, '?' neither or a mix.
        const auto states = [&] {
            std::string out;
            for (int row = 0; row < 3; ++row) {
                std::set<QRgb> colours;
                for (int column = 0; column < 3; ++column) colours.insert(foreground(model, row, column).rgba());
                const QImage icon = decoration(model, row);
                if (colours == std::set<QRgb>{tertiary.rgba()} && icon == tertiaryIcon)
                    out += 'd';
                else if (colours == std::set<QRgb>{label.rgba()} && icon == labelIcon)
                    out += 'n';
                else
                    out += '?';
            }
            return out;
        };

        QCOMPARE(states(), std::string("nnn"));
        board.holdOwnElements({apptest::ownItem("a"), apptest::ownItem("c")},
                              quorvel::Pasteboard::OperationType::remoteCut);
        QCOMPARE(states(), std::string("dnd"));
        board.holdOwnElements({apptest::ownItem("a"), apptest::ownItem("c")},
                              quorvel::Pasteboard::OperationType::remoteOwnCopy);
        QCOMPARE(states(), std::string("nnn"));
        board.holdOwnElements({apptest::ownItem("b")}, quorvel::Pasteboard::OperationType::remoteCut);
        QCOMPARE(states(), std::string("ndn"));
        board.clear();
        QCOMPARE(states(), std::string("nnn"));
    }
};

QTEST_MAIN(RemoteFilesTableModelTest)
#include "RemoteFilesTableModel_test.moc"
