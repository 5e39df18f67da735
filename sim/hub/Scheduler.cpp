// The hub's timer thread.
#include "hub/Scheduler.hpp"

#include <exception>

namespace bw_sim {

Scheduler::Scheduler() : thread_([this] { serve(); }) {}

Scheduler::~Scheduler() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Scheduler::at(Clock::time_point when, std::function<void()> action) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.emplace(when, std::move(action));
    }
    wake_.notify_all();
}

std::vector<std::string> Scheduler::failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

void Scheduler::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto next = pending_.begin();
        if (Clock::now() < next->first) {
            wake_.wait_until(lock, next->first);
            continue;
        }
        std::function<void()> action = std::move(next->second);
        pending_.erase(next);
        lock.unlock();
        std::string failure;
        try {
            action();
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "unknown exception";
        }
        lock.lock();
        if (!failure.empty()) {
            failures_.push_back(failure);
        }
    }
}

}  // namespace bw_sim
