// Building the scripted behaviour of a fake program.
#include "fakes/Outcome.hpp"

namespace bw_sim {

Outcome Outcome::failsTimes(unsigned times, int status) {
    std::vector<int> perRun(times, status);
    perRun.push_back(0);
    return Outcome(std::move(perRun));
}

Outcome& Outcome::prints(std::string text) {
    out_ = std::move(text);
    return *this;
}

Outcome& Outcome::printsError(std::string text) {
    err_ = std::move(text);
    return *this;
}

Outcome& Outcome::takes(std::chrono::milliseconds duration) {
    duration_ = duration;
    return *this;
}

Outcome& Outcome::withoutEffect() {
    effect_ = false;
    return *this;
}

int Outcome::statusOfRun(std::size_t index) const {
    if (statuses_.empty()) {
        return 0;
    }
    return statuses_[index < statuses_.size() ? index : statuses_.size() - 1];
}

}  // namespace bw_sim
