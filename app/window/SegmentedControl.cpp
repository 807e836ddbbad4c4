#include "app/window/SegmentedControl.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace quorvel {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    group_->setExclusive(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int index = 0; index < labels.size(); ++index) {
        auto* segment = new QToolButton(this);
        segment->setText(labels[index]);
        segment->setCheckable(true);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_->addButton(segment, index);
        layout->addWidget(segment);
    }
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::segmentChosen);
}

int SegmentedControl::segmentCount() const { return static_cast<int>(group_->buttons().size()); }

int SegmentedControl::selectedSegment() const { return group_->checkedId(); }

void SegmentedControl::setSelectedSegment(int index) {
    if (QAbstractButton* segment = group_->button(index)) {
        segment->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked: let go of it to clear.
    if (QAbstractButton* checked = group_->checkedButton()) {
        group_->setExclusive(false);
        checked->setChecked(false);
        group_->setExclusive(true);
    }
}

}  // namespace quorvel
