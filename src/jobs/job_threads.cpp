#include "jobs/job_threads.h"

#include <utility>
#include <vector>

namespace farsend::jobs {

JobThreads::JobThreads(JobEnvironment environment) : environment_(environment) {}

JobThreads::~JobThreads() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers) {
        if (worker.thread.joinable()) worker.thread.join();
    }
}

void JobThreads::Start(JobKind kind, std::string path, std::shared_ptr<JobDialog> dialog,
                       std::function<void(const JobReport&)> finished) {
    JoinFinished();
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back();
    Worker* worker = &workers_.back();
    ++running_;
    worker->thread =
        std::thread([this, worker, kind, path = std::move(path), dialog = std::move(dialog),
                     finished = std::move(finished)]() mutable {
            const JobReport report = RunJobWorker(kind, path, environment_, *dialog);
            dialog.reset();
            if (finished) finished(report);
            std::lock_guard<std::mutex> lock(mutex_);
            worker->done = true;
            --running_;
            changed_.notify_all();
        });
}

bool JobThreads::WaitUntilIdle(Millis timeout) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return running_ == 0; })) return false;
    }
    JoinFinished();
    return true;
}

int JobThreads::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void JobThreads::JoinFinished() {
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done) {
                finished.push_back(std::move(it->thread));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Each is past its last use of anything but its own stack: the joins are
    // immediate.
    for (std::thread& thread : finished) thread.join();
}

}  // namespace farsend::jobs
