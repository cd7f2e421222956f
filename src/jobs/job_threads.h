// Worker threads of the job dialogs. A job dialog starts its worker when it
// opens; the worker ends the dialog itself and may still send the main window
// a command afterwards (680). So nobody may wait for a worker on the
// user-interface thread at that moment: finished workers are joined when the
// next one starts, and the rest at shutdown, through a wait that the
// user-interface thread can interleave with handling sent messages.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"
#include "jobs/job_dialog.h"
#include "jobs/job_workers.h"

namespace farsend::jobs {

class JobThreads {
public:
    explicit JobThreads(JobEnvironment environment);
    // Joins every worker. Call WaitUntilIdle first wherever a worker might be
    // waiting for the destroying thread.
    ~JobThreads();
    JobThreads(const JobThreads&) = delete;
    JobThreads& operator=(const JobThreads&) = delete;

    // Runs the worker of `kind` on a new thread and returns at once. The
    // dialog is kept alive until the worker has returned; `finished`, if
    // given, is called on the worker's thread with its report, last.
    void Start(JobKind kind, std::string path, std::shared_ptr<JobDialog> dialog,
               std::function<void(const JobReport&)> finished = {});
    // Waits up to `timeout` (real time) until no worker runs; true when none
    // does. Finished workers are joined.
    bool WaitUntilIdle(Millis timeout);
    int Running() const;

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    void JoinFinished();

    const JobEnvironment environment_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Worker> workers_;
    int running_ = 0;
};

}  // namespace farsend::jobs
