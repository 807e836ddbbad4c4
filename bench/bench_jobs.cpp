// Queuing and running N jobs that end without a request: the cost of one job
// must not grow with the length of the queue.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "jobs/CommJobs.h"
#include "jobs/CommJobsContext.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"

namespace {

using namespace ostrelcomm;

class LocalContext : public CommJobsContext {
public:
    LocalContext() : CommJobsContext(JobsSteps::user_getSessions) {}
    JobNotificationData getNotificationData(JobStatus) override { return {std::nullopt, "", std::nullopt, {}}; }
};

// N jobs queued behind a held job, then run in one go: each ends at its first
// step because the engine has no session to sign with.
void BM_JobsEndingLocally(benchmark::State& state) {
    const auto jobs = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = std::make_shared<SrvComm>();
        SrvComm* e = engine.get();
        engine->registerStep(JobsSteps::user_getProfile, [e] {
            auto context = e->runningJobContext<LocalContext>();
            e->setNextStep(JobsSteps::user_getKeys, JobStatus::inProgress, true, context);
        });
        engine->registerStep(JobsSteps::user_getKeys, [e] {
            e->setNextStep(JobsSteps::idle, JobStatus::completed, false, e->runningJobContext<LocalContext>());
        });
        engine->registerStep(JobsSteps::user_getSessions, [e] {
            auto context = e->runningJobContext<LocalContext>();
            e->queue()->incrementJobStep(*context->getJobID());
            e->signingSession(context);
        });
        engine->holdRequest();
        auto held = std::make_shared<LocalContext>();
        held->setNextStep(JobsSteps::user_getProfile);
        engine->queue()->addNewJob(JobType::getProfile, 1, JobPriority::Normal, held, std::nullopt, std::nullopt);
        state.ResumeTiming();

        for (std::size_t i = 0; i < jobs; ++i)
            engine->queue()->addNewJob(JobType::getSessionsInformations, 1,
                                       i % 2 ? JobPriority::High : JobPriority::Normal,
                                       std::make_shared<LocalContext>(), std::nullopt, std::nullopt);
        engine->holdResume();

        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(jobs));
}
BENCHMARK(BM_JobsEndingLocally)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& times) {
        const double small = times.seconds("BM_JobsEndingLocally/1000") / 1000;
        const double large = times.seconds("BM_JobsEndingLocally/100000") / 100000;
        if (small <= 0 || large <= 0) return;
        std::printf("\nPer job: %.2f us at 1,000 jobs, %.2f us at 100,000 jobs: ratio %.2f (target <= 1.5)\n",
                    small * 1e6, large * 1e6, large / small);
    });
}
