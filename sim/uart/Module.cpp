// The module simulator's thread: reads what the host writes, answers, and writes queued
// bytes as the line takes them.
#include "uart/Module.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bw_sim::uart {

Module::Module(Scenario scenario) : scenario_(std::move(scenario)) {
    int wakeFds[2];
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("module: pipe: ") + std::strerror(errno));
    }
    wakeRead_ = wakeFds[0];
    wakeWrite_ = wakeFds[1];
    try {
        for (const std::string& path : scenario_.paths) {
            terminal_.bindAt(path);
        }
    } catch (...) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
        throw;
    }
    thread_ = std::thread([this] { loop(); });
}

Module::~Module() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void Module::send(const Bytes& bytes, std::size_t pieces) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue(bytes, pieces);
    }
    wake();
}

bool Module::waitUntilSent(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return output_.empty(); });
}

std::vector<esp3::Frame> Module::received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

Bytes Module::receivedBytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return receivedBytes_;
}

bool Module::waitForFrames(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return received_.size() >= count; });
}

// Called with the mutex held.
void Module::queue(const Bytes& bytes, std::size_t pieces) {
    if (bytes.empty()) {
        return;
    }
    pieces = std::clamp<std::size_t>(pieces, 1, bytes.size());
    const std::size_t size = (bytes.size() + pieces - 1) / pieces;
    for (std::size_t start = 0; start < bytes.size(); start += size) {
        const std::size_t end = std::min(bytes.size(), start + size);
        Chunk chunk;
        chunk.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                           bytes.begin() + static_cast<std::ptrdiff_t>(end));
        chunk.delay = start == 0 ? std::chrono::milliseconds(0) : scenario_.piecePause;
        if (output_.empty()) {
            frontDue_ = Clock::now() + chunk.delay;
        }
        output_.push_back(std::move(chunk));
    }
}

void Module::wake() {
    const char byte = 1;
    (void)!::write(wakeWrite_, &byte, 1);  // a full pipe already wakes the thread
}

// Called with the mutex held. -1: nothing to write; 0: write now.
int Module::pollTimeoutMs() const {
    if (output_.empty()) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(frontDue_ - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
}

void Module::loop() {
    for (;;) {
        int timeout = -1;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
            timeout = pollTimeoutMs();
        }
        pollfd fds[2] = {{terminal_.master(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (timeout == 0) {
            // Due now: wait until the line takes more, not in a busy loop while it is full.
            fds[0].events |= POLLOUT;
            timeout = -1;
        }
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            takeInput();
        }
        writeOutput();
    }
}

void Module::takeInput() {
    std::uint8_t buffer[4096];
    const ssize_t count = ::read(terminal_.master(), buffer, sizeof buffer);
    if (count <= 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(count);
    const std::vector<esp3::Frame> frames = decoder_.feed(buffer, size);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        receivedBytes_.insert(receivedBytes_.end(), buffer, buffer + size);
        received_.insert(received_.end(), frames.begin(), frames.end());
    }
    changed_.notify_all();
    for (const esp3::Frame& frame : frames) {
        answer(frame);
    }
}

void Module::answer(const esp3::Frame& request) {
    const bool isBaseIdRequest = request.type == esp3::COMMON_COMMAND && !request.data.empty() &&
                                 request.data[0] == esp3::CO_RD_IDBASE;
    esp3::Frame reply;
    const Answer* plan = nullptr;
    if (isBaseIdRequest) {
        plan = &scenario_.baseIdRequests.answerFor(baseIdRequestCount_++);
        Bytes more(scenario_.baseId.begin(), scenario_.baseId.end());
        reply = esp3::response(plan->returnCode.value_or(esp3::RET_OK), more,
                               {scenario_.remainingChanges});
    } else if (request.type == esp3::RADIO_ERP1) {
        plan = &scenario_.telegrams.answerFor(telegramCount_++);
        reply = esp3::response(plan->returnCode.value_or(esp3::RET_OK));
    } else {
        send(esp3::encode(esp3::response(esp3::RET_NOT_SUPPORTED)));
        return;
    }
    if (plan->data) {
        reply.data = *plan->data;
    }
    if (plan->optional) {
        reply.optional = *plan->optional;
    }
    Bytes bytes = plan->before;
    if (!plan->silent) {
        const Bytes frame = esp3::encode(reply);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    send(bytes, plan->pieces);
}

void Module::writeOutput() {
    const std::lock_guard<std::mutex> lock(mutex_);
    while (!output_.empty() && Clock::now() >= frontDue_) {
        Chunk& chunk = output_.front();
        const ssize_t count = ::write(terminal_.master(), chunk.bytes.data() + chunk.written,
                                      chunk.bytes.size() - chunk.written);
        if (count <= 0) {
            return;  // the line is full: poll says when it takes more
        }
        chunk.written += static_cast<std::size_t>(count);
        if (chunk.written < chunk.bytes.size()) {
            return;
        }
        output_.pop_front();
        if (!output_.empty()) {
            frontDue_ = Clock::now() + output_.front().delay;
        }
    }
    if (output_.empty()) {
        changed_.notify_all();
    }
}

}  // namespace bw_sim::uart
