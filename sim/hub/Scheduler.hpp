// Runs actions at chosen times on a thread of its own: devices that appear a while after
// the hub starts or after the program asked for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bw_sim {

class Scheduler {
  public:
    using Clock = std::chrono::steady_clock;

    Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;
    // Drops the actions not yet due and joins the thread.
    ~Scheduler();

    void at(Clock::time_point when, std::function<void()> action);
    // What escaped the actions (their exceptions' texts), for the tests to look at.
    std::vector<std::string> failures() const;

  private:
    void serve();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, std::function<void()>> pending_;
    std::vector<std::string> failures_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace bw_sim
