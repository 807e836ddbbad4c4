#include "app/sheets/SheetParts.h"

#include <QFont>
#include <QLabel>

#include "app/Extensions/Localize.h"
#include "app/utils/Appwise.h"

namespace quorvel::sheet {

QString text(const char* key) { return QString::fromStdString(localize(key)); }

ostrelcomm::SrvComm& fastEngine() { return *Appwise::shared().engine(CommTasks::fastTask); }

QPixmap iconPixmap(const QImage& image, int side) {
    if (image.isNull()) return {};
    return QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QLabel* plainLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* selectablePlainLabel(QWidget* parent, const char* name) {
    QLabel* label = plainLabel(parent, name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* itemImageLabel(QWidget* parent, const char* name, int side) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFixedSize(side, side);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* itemNameLabel(QLabel* label) {
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setWordWrap(true);
    return label;
}

}  // namespace quorvel::sheet
