#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QHBoxLayout;
class QToolButton;

namespace quorvel {

// The path above a file table: one flat button per level of the folder on
// show, the top first, each holding the URL of its level. A click reports the
// button's item; what it leads to is the owner's business.
//
// Names come from the file system or from other users: they show as plain
// text, never as markup or mnemonics.
//
// On the main thread only.
class PathBar : public QWidget {
    Q_OBJECT

public:
    struct Item {
        // The name shown.
        QString title;
        QImage image;
        // The level's URL: a local folder's path in the file system's bytes,
        // or a remote level's URL text. Absent: the item leads nowhere.
        std::optional<std::string> url;
    };

    explicit PathBar(QWidget* parent = nullptr);

    // The items replaced, in order, top first.
    void setItems(std::vector<Item> items);
    const std::vector<Item>& items() const { return items_; }
    // The button of an item; null out of range.
    QToolButton* button(int index) const;

signals:
    // The user clicked the item at `index` of items().
    void itemClicked(int index);

private:
    std::vector<Item> items_;
    std::vector<QToolButton*> buttons_;
    QHBoxLayout* row_;
};

}  // namespace quorvel
