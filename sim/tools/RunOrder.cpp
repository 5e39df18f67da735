// Ordering a run's output and events by where they happened in the output streams.
#include "tools/RunOrder.hpp"

#include <algorithm>

namespace bw_sim::tool {

void RunOrder::collected(bool error, const std::string& piece, Micros at) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const int stream = error ? 1 : 0;
    text_[stream] += piece;
    pieces_[stream].push_back({at, text_[stream].size()});
}

std::size_t RunOrder::collectedBy(bool error, Micros at) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<Piece>& pieces = pieces_[error ? 1 : 0];
    const auto after = std::upper_bound(pieces.begin(), pieces.end(), at,
                                        [](Micros t, const Piece& piece) { return t < piece.at; });
    return after == pieces.begin() ? 0 : std::prev(after)->end;
}

void RunOrder::add(const Event& event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
}

// The output of both streams from what was shown up to `upTo`, interleaved by the time it
// was collected.
void RunOrder::takeOutput(const std::size_t (&upTo)[2], std::vector<Event>& into) {
    std::vector<Event> pieces;
    for (const int stream : {0, 1}) {
        const std::vector<Piece>& all = pieces_[stream];
        auto piece =
            std::upper_bound(all.begin(), all.end(), shown_[stream],
                             [](std::size_t offset, const Piece& p) { return offset < p.end; });
        for (; piece != all.end() && shown_[stream] < upTo[stream]; ++piece) {
            const std::size_t end = std::min(piece->end, upTo[stream]);
            Event event;
            event.at = piece->at;
            event.kind = stream == 0 ? Event::Kind::out : Event::Kind::err;
            event.text = text_[stream].substr(shown_[stream], end - shown_[stream]);
            event.position[stream] = shown_[stream];
            pieces.push_back(event);
            shown_[stream] = end;
        }
    }
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    into.insert(into.end(), pieces.begin(), pieces.end());
}

std::vector<Event> RunOrder::due(Micros now, Micros settle, Micros patternSettle, bool all) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    const std::size_t available[2] = {text_[0].size(), text_[1].size()};
    std::vector<Event> due;
    std::size_t taken = 0;
    for (; taken < events_.size(); ++taken) {
        const Event& event = events_[taken];
        const bool waitsForOutput =
            event.position[0] > available[0] || event.position[1] > available[1];
        const bool patternEnded = std::any_of(
            events_.begin() + static_cast<long>(taken), events_.end(),
            [](const Event& e) { return e.kind == Event::Kind::leds && e.endsPattern; });
        const bool settling =
            (event.kind == Event::Kind::started && now - event.at < settle) ||
            (event.kind == Event::Kind::leds && !patternEnded && now - event.at < patternSettle);
        if (!all && (waitsForOutput || settling)) {
            break;
        }
        const std::size_t upTo[2] = {std::min(event.position[0], available[0]),
                                     std::min(event.position[1], available[1])};
        takeOutput(upTo, due);
        due.push_back(event);
    }
    if (taken < events_.size()) {
        const Event& next = events_[taken];
        const std::size_t upTo[2] = {std::min(next.position[0], available[0]),
                                     std::min(next.position[1], available[1])};
        takeOutput(upTo, due);
    } else {
        takeOutput(available, due);
    }
    events_.erase(events_.begin(), events_.begin() + static_cast<long>(taken));
    return due;
}

}  // namespace bw_sim::tool
