// An EnOcean radio module on the far side of the simulated UART. It answers CO_RD_IDBASE
// and radio telegrams as a real module does, with faults that a scenario scripts, and logs
// every frame it receives.
//
//     bw_sim::uart::Scenario scenario;            // answers everything with RET_OK
//     scenario.telegrams.then.returnCode = 2;     // ... but refuses every telegram
//     bw_sim::uart::Answer ignore;
//     ignore.silent = true;
//     scenario.baseIdRequests.first = {ignore};   // and ignores the first base-ID request
//     bw_sim::uart::Module module(scenario);      // in a sandbox after freshDev(): the
//                                                 // slave is at /dev/ttyAMA0
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "uart/Esp3.hpp"
#include "uart/PseudoTerminal.hpp"

namespace bw_sim::uart {

// How the module answers one request.
struct Answer {
    // No RESPONSE at all (what `before` holds is still written).
    bool silent = false;
    // The RESPONSE's return code; RET_OK when not set.
    std::optional<std::uint8_t> returnCode;
    // Replace the RESPONSE's whole data or optional data, e.g. to give it the wrong length.
    std::optional<Bytes> data;
    std::optional<Bytes> optional;
    // Raw bytes written just before the RESPONSE: garbage, corrupted frames, unsolicited
    // radio telegrams.
    Bytes before;
    // Everything written in this many pieces with a pause between them.
    std::size_t pieces = 1;
};

// The answers to one kind of request: `first` for the first ones in order, `then` for the
// rest.
struct Script {
    std::vector<Answer> first;
    Answer then;

    const Answer& answerFor(std::size_t index) const {
        return index < first.size() ? first[index] : then;
    }
};

struct Scenario {
    // Where the slave appears; empty: nowhere (open slavePath() directly).
    std::vector<std::string> paths{"/dev/ttyAMA0"};
    Id baseId{0xFF, 0x9A, 0x43, 0x00};
    std::uint8_t remainingChanges = 10;
    Script baseIdRequests;
    Script telegrams;
    // Between the pieces of a split write.
    std::chrono::milliseconds piecePause{5};
};

class Module {
  public:
    // Sets up the pseudo-terminal (see Scenario::paths) and starts the module's thread.
    explicit Module(Scenario scenario);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    // Stops the thread and takes the device entries away.
    ~Module();

    // Queues raw bytes for the host, written in `pieces` with the scenario's pause between
    // them; returns at once. The host may read them only after the module's thread wrote
    // them: see waitUntilSent.
    void send(const Bytes& bytes, std::size_t pieces = 1);
    void sendFrame(const esp3::Frame& frame) { send(esp3::encode(frame)); }
    // True once everything queued has been written to the line.
    bool waitUntilSent(std::chrono::milliseconds limit);

    // Every valid frame received from the host, oldest first, and every raw byte.
    std::vector<esp3::Frame> received() const;
    Bytes receivedBytes() const;
    // True once at least `count` frames have been received.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds limit) const;

    const std::string& slavePath() const { return terminal_.slavePath(); }

  private:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Bytes bytes;
        std::size_t written = 0;
        std::chrono::milliseconds delay{0};
    };

    void loop();
    void takeInput();
    void writeOutput();
    void answer(const esp3::Frame& request);
    void queue(const Bytes& bytes, std::size_t pieces);
    int pollTimeoutMs() const;
    void wake();

    const Scenario scenario_;
    PseudoTerminal terminal_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    esp3::Decoder decoder_;
    std::size_t baseIdRequestCount_ = 0;
    std::size_t telegramCount_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::deque<Chunk> output_;
    Clock::time_point frontDue_;
    std::vector<esp3::Frame> received_;
    Bytes receivedBytes_;

    std::thread thread_;
};

}  // namespace bw_sim::uart
