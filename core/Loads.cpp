// Loading ahead: loads queued by a staged loader are prepared one after
// another on a worker thread and collected, in the order they were queued,
// on the main thread, which alone touches the image table, OpenAL and the log.
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "CoreState.h"
#include "../sys/KELPSys.h"

using namespace kelp;

namespace {

struct Job {
    int due;
    int slot;                        // the image slot it fills, -1 for none
    std::function<void()> prepare;   // worker side; empty when there is nothing to prepare
    std::function<void()> commit;    // main thread, in queue order
    bool ready;
};

class LoadQueue {
public:
    ~LoadQueue() { Stop(); }

    void Add(const std::shared_ptr<Job>& job) {
        std::lock_guard<std::mutex> lock(m_);
        job->ready = !job->prepare;
        jobs_.push_back(job);
        if (job->ready) return;
        todo_.push_back(job);
        if (!worker_.joinable() && !noThread_) {
            try {
                worker_ = std::thread([this] { Work(); });
            } catch (const std::system_error&) {
                // No thread to be had: each load is then prepared when it is collected.
                noThread_ = true;
            }
        }
        changed_.notify_all();
    }

    // Collects, in order, the jobs due by `turn` that are ready. Waits for an
    // unready one only if `all`, or if it or a due job behind it fills `slot`.
    int Collect(int turn, int slot, bool all) {
        int collected = 0;
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lock(m_);
                if (jobs_.empty() || jobs_.front()->due > turn) break;
                if (!jobs_.front()->ready) {
                    bool needed = all;
                    for (size_t i = 0; i < jobs_.size() && !needed && jobs_[i]->due <= turn; i++)
                        needed = slot >= 0 && jobs_[i]->slot == slot;
                    if (noThread_) {
                        PrepareHere(lock);
                    } else {
                        if (!needed) break;
                        changed_.wait(lock, [this] { return jobs_.front()->ready; });
                    }
                }
                job = jobs_.front();
                jobs_.pop_front();
            }
            job->commit();
            collected++;
        }
        return collected;
    }

    int Count() {
        std::lock_guard<std::mutex> lock(m_);
        return (int)jobs_.size();
    }

    // Drops every job not collected yet; the one being prepared finishes first.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stopping_ = true;
            jobs_.clear();
            todo_.clear();
            changed_.notify_all();
        }
        if (worker_.joinable()) worker_.join();
        std::lock_guard<std::mutex> lock(m_);
        worker_ = std::thread();
        stopping_ = false;
    }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
            if (stopping_) return;
            std::shared_ptr<Job> job = todo_.front();
            todo_.pop_front();
            lock.unlock();
            Run(job->prepare);
            lock.lock();
            job->ready = true;
            changed_.notify_all();
        }
    }

    // Without a worker: the front job is prepared on the calling thread.
    void PrepareHere(std::unique_lock<std::mutex>& lock) {
        std::shared_ptr<Job> job = jobs_.front();
        for (size_t i = 0; i < todo_.size(); i++)
            if (todo_[i] == job) todo_.erase(todo_.begin() + (long)i);
        lock.unlock();
        Run(job->prepare);
        lock.lock();
        job->ready = true;
    }

    // A preparation that throws (out of memory, say) leaves its result as it
    // was made, which the commit reports as a failed load.
    static void Run(const std::function<void()>& prepare) {
        try {
            prepare();
        } catch (...) {
        }
    }

    std::mutex m_;
    std::condition_variable changed_;          // a job arrived or became ready, or stop
    std::deque<std::shared_ptr<Job>> jobs_;    // queued and not collected, in order
    std::deque<std::shared_ptr<Job>> todo_;    // not prepared yet, in order
    std::thread worker_;
    bool stopping_ = false;
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    // A browser build without threads: starting one would throw where
    // nothing can catch it, so each load is prepared when it is collected.
    bool noThread_ = true;
#else
    bool noThread_ = false;
#endif
};

LoadQueue& Queue() {
    static LoadQueue queue;
    return queue;
}

}  // namespace

void KELPCore::QueueLoad(int due, int slot, std::function<void()> prepare, std::function<void()> commit) {
    auto job = std::make_shared<Job>();
    job->due = due;
    job->slot = slot;
    job->prepare = std::move(prepare);
    job->commit = std::move(commit);
    Queue().Add(job);
}

int KELPCore::CollectLoads(int turn, int waitForSlot) { return Queue().Collect(turn, waitForSlot, false); }

void KELPCore::FinishLoads() { Queue().Collect(INT_MAX, -1, true); }

int KELPCore::LoadsQueued() { return Queue().Count(); }

void KELPCore::DropLoads() { Queue().Stop(); }
