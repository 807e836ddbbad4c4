#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;

namespace quorvel {

// A row of joined toggle buttons of which at most one is selected, as a
// desktop's segmented control: a click selects its segment and reports it.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const;
    // The selected segment's index; -1 for none.
    int selectedSegment() const;
    // Selects a segment without reporting it; an index out of range selects
    // none.
    void setSelectedSegment(int index);

signals:
    // The user clicked a segment, which is now the selected one.
    void segmentChosen(int index);

private:
    QButtonGroup* group_;
};

}  // namespace quorvel
