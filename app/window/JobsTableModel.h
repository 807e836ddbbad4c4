#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

#include <array>
#include <functional>
#include <optional>

#include "app/window/FileTableCell.h"
#include "app/window/MainViewController.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"

namespace quorvel {

// What one cell of the jobs table shows: its status icon (null for none),
// the tint the icon is drawn in (invalid for none), its text and the
// identifier of the kind of cell; empty for a column the table does not
// have, which makes no cell.
struct JobCellData {
    QImage icon;
    QColor tint;
    QString text;
    QString identifier;
};

// An upload or a download: the jobs that carry a file's content.
inline bool isTransfer(ostrelcomm::JobType type) {
    return type == ostrelcomm::JobType::fileSend || type == ostrelcomm::JobType::fileReceive;
}

// The cell identifiers of the jobs table, by column.
inline constexpr char kJobDescriptionCellID[] = "jobDescriptionID";
inline constexpr char kJobQueuedCellID[] = "jobQueuedID";
inline constexpr char kJobDetailCellID[] = "jobDetailID";

// The detail cell of a running job: how far it is, 0 to 100 (int), drawn as
// a bar; absent for a job that is not running or announced no steps.
inline constexpr int kJobProgressRole = Qt::UserRole + 2;
// The detail cell of a running upload or download whose pace is known: its
// rate ("2.1 MB/s") and the time left ("14 s left"), as texts.
inline constexpr int kTransferRateRole = Qt::UserRole + 3;
inline constexpr int kTimeLeftRole = Qt::UserRole + 4;

// The jobs table ("jobsTable"): one row per row of the main view's
// jobsViewList, three columns by position: the job (status icon and type),
// when it was queued, and how it goes. The model reads the rows where the
// view keeps them; the view changes them only inside reload().
//
// Per cell: the text under DisplayRole, the icon tinted under DecorationRole,
// the cell identifier under kCellIdentifierRole, and the detail cell's
// progress, rate and time left under their roles.
//
// On the main thread only.
class JobsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using CommJob = MainViewController::CommJob;

    JobsTableModel(const MainViewController& view, QObject* parent = nullptr);

    // Runs `change` of the rows as one reset of the model.
    void reload(const std::function<void()>& change);
    // One cell of the rows shows something new.
    void cellChanged(int row, int column);

    // The description of one job's cell in `column`: column 0 the status's
    // icon and tint with the job's type (for a transfer, with what it
    // transfers); column 1 the date queued, long date and medium time;
    // column 2 for a running job its progress ("33.0%", none for a job that
    // announced no steps), for a failed one its information text, else
    // nothing. Another column: an empty description.
    JobCellData jobCellData(const CommJob& job, int column) const;
    // A running job's progress, floor(actStep × 100 / jobSteps), which may
    // pass 100 when steps were repeated; none for a job that announced none.
    static std::optional<std::uint64_t> percentDone(const ostrelcomm::CommJobsItem& job);
    // "2.1 MB/s" and "14 s left" of a running transfer whose pace is known;
    // empty otherwise.
    QString transferRate(const CommJob& job) const;
    QString timeLeft(const CommJob& job) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const QIcon& statusIcon(ostrelcomm::JobStatus status) const;

    const MainViewController& view_;
    mutable std::array<std::optional<QIcon>, ostrelcomm::kJobStatusCount> icons_;
};

}  // namespace quorvel
