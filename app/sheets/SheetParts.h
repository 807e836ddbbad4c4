#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace ostrelcomm {
class SrvComm;
}

namespace quorvel::sheet {

// The pieces the item sheets build alike.

// The text of `key` in the application's table.
QString text(const char* key);

// The engine the sheets ask their quick questions of.
ostrelcomm::SrvComm& fastEngine();

// `image` fitted into a square of `side`; none for no image.
QPixmap iconPixmap(const QImage& image, int side);

// A label for names and types that come from remote metadata: never read as
// markup.
QLabel* plainLabel(QWidget* parent, const char* name);
// The same, its text selectable with the mouse.
QLabel* selectablePlainLabel(QWidget* parent, const char* name);

// The square, centred image at the head of an item sheet.
QLabel* itemImageLabel(QWidget* parent, const char* name, int side);
// The item's name at the head of the sheet: bold, wrapped.
QLabel* itemNameLabel(QLabel* label);

}  // namespace quorvel::sheet
