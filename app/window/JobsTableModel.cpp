#include "app/window/JobsTableModel.h"

#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"

namespace quorvel {

namespace {

using ostrelcomm::JobStatus;

constexpr int kColumns = 3;
constexpr const char* kColumnTitles[] = {"JobColumn", "JobQueuedColumn", "JobDetailColumn"};

struct StatusLook {
    const char* image;
    SystemColor tint;
};

StatusLook lookOf(JobStatus status) {
    switch (status) {
        case JobStatus::pending: return {"pendingjobs-icon", SystemColor::label};
        case JobStatus::suspended: return {"pausedjobs-icon", SystemColor::gray};
        case JobStatus::deferred: return {"deferredjobs-icon", SystemColor::gray};
        case JobStatus::resume: return {"runningjob-icon", SystemColor::orange};
        case JobStatus::completed: return {"completedjobs-icon", SystemColor::green};
        case JobStatus::error: return {"failedjobs-icon", SystemColor::red};
        case JobStatus::inProgress: return {"runningjob-icon", SystemColor::blue};
        case JobStatus::reqAbort: return {"jobsaborted-icon", SystemColor::yellow};
        case JobStatus::aborting: return {"jobsaborted-icon", SystemColor::purple};
        case JobStatus::aborted: return {"jobsaborted-icon", SystemColor::orange};
    }
    return {"pendingjobs-icon", SystemColor::label};
}

QString text(const char* key) { return QString::fromStdString(localize(key)); }

}  // namespace

JobsTableModel::JobsTableModel(const MainViewController& view, QObject* parent)
    : QAbstractTableModel(parent), view_(view) {}

void JobsTableModel::reload(const std::function<void()>& change) {
    beginResetModel();
    change();
    endResetModel();
}

void JobsTableModel::cellChanged(int row, int column) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell);
}

std::optional<std::uint64_t> JobsTableModel::percentDone(const ostrelcomm::CommJobsItem& job) {
    if (job.jobSteps == 0) return std::nullopt;
    const auto done = static_cast<std::uint64_t>(job.actStep);
    const auto steps = static_cast<std::uint64_t>(job.jobSteps);
    if (done <= std::numeric_limits<std::uint64_t>::max() / 100) return done * 100 / steps;
    return static_cast<std::uint64_t>(std::floor(static_cast<long double>(done) * 100 / steps));
}

JobCellData JobsTableModel::jobCellData(const CommJob& job, int column) const {
    const auto& data = job.jobdata;
    switch (column) {
        case 0: {
            const StatusLook look = lookOf(data.status);
            return {namedImage(QString::fromLatin1(look.image)), systemColor(look.tint),
                    QString::fromStdString(view_.jobTypeText(data, isTransfer(data.jobType))),
                    QString::fromLatin1(kJobDescriptionCellID)};
        }
        case 1:
            return {QImage(), QColor(),
                    Formatters::date(data.timestamp, Formatters::DateStyle::long_, Formatters::DateStyle::medium),
                    QString::fromLatin1(kJobQueuedCellID)};
        case 2: {
            QString detail;
            if (data.status == JobStatus::inProgress) {
                if (const auto percent = percentDone(data)) {
                    char buffer[48];
                    std::snprintf(buffer, sizeof buffer, "%.1f%%", static_cast<double>(*percent));
                    detail = QString::fromLatin1(buffer);
                }
            } else if (data.status == JobStatus::error) {
                detail = QString::fromStdString(data.jobInfo.value_or(std::string()));
            }
            return {QImage(), QColor(), detail, QString::fromLatin1(kJobDetailCellID)};
        }
        default:
            return {};
    }
}

QString JobsTableModel::transferRate(const CommJob& job) const {
    if (job.jobdata.status != JobStatus::inProgress || !isTransfer(job.jobdata.jobType)) return {};
    const auto pace = view_.transferPace().estimate(job.uuid, job.jobdata.jobSteps);
    if (!pace) return {};
    return text("TransferRate").arg(Formatters::byteCount(static_cast<std::uint64_t>(std::llround(pace->bytesPerSecond))));
}

QString JobsTableModel::timeLeft(const CommJob& job) const {
    if (job.jobdata.status != JobStatus::inProgress || !isTransfer(job.jobdata.jobType)) return {};
    const auto pace = view_.transferPace().estimate(job.uuid, job.jobdata.jobSteps);
    if (!pace) return {};
    const long long seconds = std::llround(std::min(pace->secondsLeft, 1e9));
    if (seconds < 60) return text("TimeLeftSeconds").arg(seconds);
    if (seconds < 3600) return text("TimeLeftMinutes").arg(seconds / 60).arg(seconds % 60);
    return text("TimeLeftHours").arg(seconds / 3600).arg(seconds / 60 % 60);
}

const QIcon& JobsTableModel::statusIcon(JobStatus status) const {
    auto& icon = icons_[static_cast<std::size_t>(status)];
    if (!icon) {
        const StatusLook look = lookOf(status);
        icon = QIcon(QPixmap::fromImage(tintedImage(namedImage(QString::fromLatin1(look.image)), systemColor(look.tint))));
    }
    return *icon;
}

int JobsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(view_.jobsViewList().size());
}

int JobsTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant JobsTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
    const CommJob& job = view_.jobsViewList()[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole: return jobCellData(job, index.column()).text;
        case kCellIdentifierRole: return jobCellData(job, index.column()).identifier;
        case Qt::DecorationRole:
            if (index.column() != 0) return {};
            return statusIcon(job.jobdata.status);
        case kJobProgressRole: {
            if (index.column() != 2 || job.jobdata.status != JobStatus::inProgress) return {};
            const auto percent = percentDone(job.jobdata);
            if (!percent) return {};
            return static_cast<int>(std::min<std::uint64_t>(*percent, 100));
        }
        case kTransferRateRole: {
            if (index.column() != 2) return {};
            const QString rate = transferRate(job);
            return rate.isEmpty() ? QVariant() : QVariant(rate);
        }
        case kTimeLeftRole: {
            if (index.column() != 2) return {};
            const QString left = timeLeft(job);
            return left.isEmpty() ? QVariant() : QVariant(left);
        }
        default: return {};
    }
}

QVariant JobsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    switch (role) {
        case Qt::DisplayRole: return text(kColumnTitles[section]);
        case Qt::InitialSortOrderRole: return static_cast<int>(Qt::AscendingOrder);
        case Qt::TextAlignmentRole: return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
        default: return {};
    }
}

}  // namespace quorvel
