// What a fake program does when it runs: its exit status run by run, its output, how long
// it takes, and whether it has its real effect.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace bw_sim {

class Outcome {
  public:
    // Exits 0 every time.
    static Outcome succeeds() { return Outcome({0}); }
    // Exits with `status` every time.
    static Outcome fails(int status = 1) { return Outcome({status}); }
    // Exits with `status` the first `times` runs, then 0.
    static Outcome failsTimes(unsigned times, int status = 1);
    // Ends itself with `signal` every time.
    static Outcome killedBy(int signal) { return Outcome({-signal}); }
    // One entry per run: an exit status, or a negative signal number; the last one repeats.
    static Outcome statuses(std::vector<int> perRun) { return Outcome(std::move(perRun)); }

    Outcome& prints(std::string text);
    Outcome& printsError(std::string text);
    Outcome& takes(std::chrono::milliseconds duration);
    // Exits as scripted but leaves files alone (touch creates nothing, hwclock leaves the
    // clock invalid ...).
    Outcome& withoutEffect();

    // The status of run `index` (0 = first).
    int statusOfRun(std::size_t index) const;

    const std::vector<int>& perRun() const { return statuses_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    std::chrono::milliseconds duration() const { return duration_; }
    bool hasEffect() const { return effect_; }

  private:
    explicit Outcome(std::vector<int> statuses) : statuses_(std::move(statuses)) {}

    std::vector<int> statuses_;
    std::string out_;
    std::string err_;
    std::chrono::milliseconds duration_{0};
    bool effect_ = true;

    friend class FakeRules;
};

}  // namespace bw_sim
