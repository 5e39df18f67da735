// The hub's timer thread: actions in time order, not before their time, failures kept.
#include "hub/Scheduler.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using bw_sim::Scheduler;
using std::chrono::milliseconds;

TEST(Scheduler, RunsActionsInTimeOrderAndNotEarly) {
    std::mutex mutex;
    std::vector<std::pair<int, Scheduler::Clock::time_point>> ran;
    const auto start = Scheduler::Clock::now();
    {
        Scheduler scheduler;
        const auto record = [&](int id) {
            return [&, id] {
                std::lock_guard<std::mutex> lock(mutex);
                ran.emplace_back(id, Scheduler::Clock::now());
            };
        };
        scheduler.at(start + milliseconds(60), record(3));
        scheduler.at(start + milliseconds(20), record(2));
        scheduler.at(start, record(1));
        for (;;) {
            std::this_thread::sleep_for(milliseconds(5));
            std::lock_guard<std::mutex> lock(mutex);
            if (ran.size() == 3) {
                break;
            }
        }
    }
    EXPECT_EQ(1, ran[0].first);
    EXPECT_EQ(2, ran[1].first);
    EXPECT_EQ(3, ran[2].first);
    EXPECT_GE(ran[1].second - start, milliseconds(20));
    EXPECT_GE(ran[2].second - start, milliseconds(60));
}

TEST(Scheduler, KeepsWhatEscapedAnActionAndDropsWhatIsNotDue) {
    std::atomic<bool> late{false};
    Scheduler scheduler;
    scheduler.at(Scheduler::Clock::now(), [] { throw std::runtime_error("mkdir /dev/x: nope"); });
    scheduler.at(Scheduler::Clock::now() + std::chrono::hours(1), [&late] { late = true; });
    while (scheduler.failures().empty()) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(std::vector<std::string>{"mkdir /dev/x: nope"}, scheduler.failures());
    EXPECT_FALSE(late);
}

}  // namespace
