// Puts a run's output and what happened around it in the order it happened. Output is
// collected a moment after it was written, and that moment may come late on a busy
// machine; every other event knows how many bytes the program had written to each stream
// before it, so it is placed exactly between the right pieces.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tools/LiveView.hpp"

namespace bw_sim::tool {

class RunOrder {
  public:
    // A piece of standard output (or error), collected at `at`. From one thread.
    void collected(bool error, const std::string& piece, Micros at);
    // How many bytes of the stream had been collected by `at`.
    std::size_t collectedBy(bool error, Micros at) const;

    // An event with its position set.
    void add(const Event& event);
    // What can be shown now, in order. A command's start waits for `settle`, and an LED
    // write for the end of its pattern or `patternSettle`, so that each makes one line
    // together with what follows it; unless `all`. Events also wait for the output that
    // came before them.
    std::vector<Event> due(Micros now, Micros settle, Micros patternSettle, bool all);

  private:
    struct Piece {
        Micros at;
        std::size_t end;  // offset after the piece
    };
    void takeOutput(const std::size_t (&upTo)[2], std::vector<Event>& into);

    mutable std::mutex mutex_;
    std::string text_[2];
    std::vector<Piece> pieces_[2];
    std::size_t shown_[2] = {0, 0};
    std::vector<Event> events_;
};

}  // namespace bw_sim::tool
