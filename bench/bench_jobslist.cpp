// The jobs list rebuilt over 10,000 jobs, 5,000 in each engine's queue: the
// queues merged with their counters and alarms, then the rows filtered, the
// 50 newest kept and sorted, the table reset; beside copying the same
// records into a vector and sorting it by date, in the same run. Target: the
// rebuild within 2 times the copy and sort.
#include "BenchSupport.h"

#include <QApplication>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/window/MainViewController.h"
#include "jobs/CommJobsItem.h"

using namespace ostrelcomm;
using quorvel::MainViewController;

namespace {

constexpr int kJobsPerQueue = 5000;

CommJobsItem makeJob(JobType type, JobStatus status, int second, std::string details) {
    CommJobsItem job(type, 12, nullptr, JobPriority::Normal, static_cast<std::uint64_t>(second));
    job.status = status;
    job.actStep = static_cast<std::size_t>(second % 12);
    // Dates out of order, as two queues interleave them.
    job.timestamp = std::chrono::sys_seconds(std::chrono::seconds(1'780'000'000 + (second * 7919) % 100'000));
    job.jobDetails = std::move(details);
    return job;
}

// The slow queue: transfers, some running, waiting or failed; the fast
// queue: listings and information queries, mostly done, some failed.
MainViewController::JobsList slowQueue() {
    MainViewController::JobsList jobs;
    jobs.reserve(kJobsPerQueue);
    for (int n = 0; n < kJobsPerQueue; ++n) {
        const JobStatus status = n % 10 == 0   ? JobStatus::inProgress
                                 : n % 10 == 1 ? JobStatus::error
                                 : n % 10 == 2 ? JobStatus::pending
                                               : JobStatus::completed;
        jobs.emplace("SLOW-" + std::to_string(n),
                     makeJob(n % 2 ? JobType::fileSend : JobType::fileReceive, status, n,
                             "Holiday photo " + std::to_string(n) + ".jpg"));
    }
    return jobs;
}

MainViewController::JobsList fastQueue() {
    MainViewController::JobsList jobs;
    jobs.reserve(kJobsPerQueue);
    for (int n = 0; n < kJobsPerQueue; ++n) {
        const JobStatus status = n % 20 == 0   ? JobStatus::error
                                 : n % 20 == 1 ? JobStatus::inProgress
                                               : JobStatus::completed;
        jobs.emplace("FAST-" + std::to_string(n),
                     makeJob(n % 3 ? JobType::getFolderInfo : JobType::getFileInfo, status, kJobsPerQueue + n,
                             "Folder " + std::to_string(n)));
    }
    return jobs;
}

MainViewController* view = nullptr;

void BM_Ours_BuildJobsList(benchmark::State& state) {
    for (auto _ : state) {
        view->buildJobsList();
        if (view->jobsViewList().size() != MainViewController::kMaxListedJobs) state.SkipWithError("wrong row count");
        // The badge and spinner drawings the rebuild queued, outside the time.
        state.PauseTiming();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_Reference_CopyAndSortByDate(benchmark::State& state) {
    const MainViewController::JobsList& slow = view->stJobsList();
    const MainViewController::JobsList& fast = view->ftJobsList();
    for (auto _ : state) {
        std::vector<MainViewController::CommJob> rows;
        rows.reserve(slow.size() + fast.size());
        for (const auto& [id, job] : slow) rows.push_back({id, job});
        for (const auto& [id, job] : fast) rows.push_back({id, job});
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.jobdata.timestamp < b.jobdata.timestamp; });
        benchmark::DoNotOptimize(rows.data());
    }
}

BENCHMARK(BM_Ours_BuildJobsList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_CopyAndSortByDate)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchsupport::ConfigFolder config("bench-jobslist");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    quorvel::Appwise::installShared(std::make_unique<quorvel::Appwise>(
        "com.quorvel.bench.jobslist", std::make_shared<quorvel::MessageBoxAlertPresenter>()));
    MainViewController mainView;
    view = &mainView;
    mainView.jobsQueueCopied(quorvel::CommTasks::slowTask, slowQueue());
    mainView.jobsQueueCopied(quorvel::CommTasks::fastTask, fastQueue());
    // The failures' alarms switch the filter to the failed jobs; seen in the
    // jobs tab they are silenced, and the list shows all jobs again.
    QApplication::processEvents();
    mainView.tabViewDidSelect(QStringLiteral("jobsTab"));
    mainView.jobsToDisplay(0);
    QApplication::processEvents();
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double ours = t.seconds("BM_Ours_BuildJobsList");
        const double reference = t.seconds("BM_Reference_CopyAndSortByDate");
        if (ours <= 0 || reference <= 0) return;
        std::printf("\njobs list of %d jobs (%d per queue), rebuilt (target: within 2x)\n", 2 * kJobsPerQueue,
                    kJobsPerQueue);
        std::printf("  rebuild %.2f ms   copy and sort by date %.2f ms   ratio %.2f   %s\n", ours * 1000,
                    reference * 1000, ours / reference, ours <= 2 * reference ? "within target" : "OVER TARGET");
    });
}
