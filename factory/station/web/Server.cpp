#include "station/web/Server.hpp"

#include <httplib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "station/Time.hpp"
#include "station/web/Assets.hpp"

namespace bw_station::web {

std::optional<Listen> parseListen(std::string_view text, std::string& reason) {
    reason.clear();
    if (text == "none") {
        return std::nullopt;
    }
    const auto colon = text.rfind(':');
    std::string_view host = colon == std::string_view::npos ? text : text.substr(0, colon);
    const std::string_view port = colon == std::string_view::npos ? "" : text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    int number = 0;
    for (const char c : port) {
        number = c >= '0' && c <= '9' && number < 65536 ? number * 10 + (c - '0') : 65536;
    }
    if (host.empty() || port.empty() || number > 65535) {
        reason = "--listen wants ADDR:PORT (such as 127.0.0.1:8080 or [::1]:8080) or none, not '" +
                 std::string(text) + "'";
        return std::nullopt;
    }
    return Listen{std::string(host), number};
}

namespace {

// The page's threads run at a lower priority than the consoles' reading (Linux sets it per
// thread): on a busy station the pages wait, never the consoles.
void yieldToConsoles() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
}

// httplib's own pool queues accepted connections without end; this one waits instead, so
// the listening thread stops accepting and the kernel's backlog holds the rest.
class BoundedPool : public httplib::TaskQueue {
  public:
    BoundedPool(std::size_t threads, std::size_t queued) : queued_(queued) {
        for (std::size_t i = 0; i < threads; ++i) {
            threads_.emplace_back([this] {
                yieldToConsoles();
                work();
            });
        }
    }

    void enqueue(std::function<void()> job) override {
        std::unique_lock<std::mutex> lock(mutex_);
        spaceFreed_.wait(lock, [this] { return jobs_.size() < queued_; });
        jobs_.push_back(std::move(job));
        jobAdded_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        jobAdded_.notify_all();
        for (auto& thread : threads_) {
            thread.join();
        }
    }

  private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                jobAdded_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
                if (jobs_.empty()) {
                    return;  // closing, and every accepted connection has been answered
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            spaceFreed_.notify_one();
            job();
        }
    }

    const std::size_t queued_;
    std::mutex mutex_;
    std::condition_variable jobAdded_;
    std::condition_variable spaceFreed_;
    std::deque<std::function<void()>> jobs_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// SSE carries one document per event; a line break inside it starts another data line.
std::string event(const std::string& json) {
    std::string out = "data: ";
    for (const char c : json) {
        out += c;
        if (c == '\n') {
            out += "data: ";
        }
    }
    out += "\n\n";
    return out;
}

const std::string& param(const httplib::Request& request, const char* name) {
    static const std::string none;
    const auto it = request.params.find(name);
    return it == request.params.end() ? none : it->second;
}

std::optional<std::int64_t> runId(const httplib::Request& request) {
    const std::string& digits = request.matches[1];
    if (digits.empty() || digits.size() > 18) {
        return std::nullopt;
    }
    return std::stoll(digits);
}

void notFound(httplib::Response& response) {
    response.status = 404;
}

// A filter the station cannot read is said so, rather than answered with nothing found.
bool badFilter(const httplib::Request& request, httplib::Response& response) {
    std::string reason;
    for (const char* name : {"since", "until"}) {
        if (!param(request, name).empty() && !parseTime(param(request, name))) {
            reason = std::string(name) + " is not of the form YYYY-MM-DD[THH:MM[:SS]][Z]";
        }
    }
    const std::string& verdict = param(request, "verdict");
    if (!verdict.empty() && verdict != "passed" && verdict != "failed" && verdict != "incomplete" &&
        verdict != "normal-boot" && verdict != "unsupported") {
        reason = "verdict is one of passed, failed, incomplete, normal-boot, unsupported";
    }
    if (reason.empty()) {
        return false;
    }
    response.status = 400;
    response.set_content("{\"error\":\"" + reason + "\"}\n", "application/json");
    return true;
}

}  // namespace

struct Server::State {
    State(Api& reader, Limits chosen) : api(reader), limits(chosen) {}

    Api& api;
    const Limits limits;
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> finished{false};
    int port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> streams{0};

    // The line's state as an event, made once per version however many pages follow it.
    std::mutex snapshotMutex;
    std::uint64_t snapshotVersion = 0;
    std::shared_ptr<const std::string> snapshotEvent;
    std::shared_ptr<const std::string> snapshot(std::uint64_t version) {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        if (!snapshotEvent || snapshotVersion != version) {
            snapshotEvent = std::make_shared<const std::string>(event(api.fixturesJson()));
            snapshotVersion = version;
        }
        return snapshotEvent;
    }

    void routes();
    void liveStream(httplib::Response& response);
};

namespace {

// Whoever holds one of these counts as one live page.
struct StreamSlot {
    explicit StreamSlot(std::atomic<std::size_t>& open) : count(open) {}
    ~StreamSlot() { --count; }
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;
    std::atomic<std::size_t>& count;
};

}  // namespace

void Server::State::liveStream(httplib::Response& response) {
    if (++streams > limits.streams) {
        --streams;
        response.status = 503;
        response.set_header("Retry-After", "5");
        response.set_content("too many live pages open\n", "text/plain; charset=utf-8");
        return;
    }
    auto slot = std::make_shared<StreamSlot>(streams);
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(limits.streamSeconds);
    auto lastWrite = Clock::now();
    bool first = true;
    std::uint64_t seen = 0;
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, slot, end, lastWrite, first, seen](std::size_t, httplib::DataSink& sink) mutable {
            std::string out;
            if (first) {
                first = false;
                seen = api.waitForChange(0, 0);
                out = "retry: 2000\n" + *snapshot(seen);
            } else {
                // A burst of console lines becomes one event per gap, not one per line.
                const auto gap =
                    std::chrono::milliseconds(limits.eventGapMs) - (Clock::now() - lastWrite);
                if (gap > Clock::duration::zero()) {
                    std::this_thread::sleep_for(gap);
                }
                // Short waits, so that a stopping server ends every stream within a second.
                const std::uint64_t now = api.waitForChange(seen, 1000);
                if (stopping || Clock::now() >= end) {
                    sink.done();
                    return true;
                }
                if (now != seen) {
                    seen = now;
                    out = *snapshot(now);
                } else if (Clock::now() - lastWrite >=
                           std::chrono::seconds(limits.keepaliveSeconds)) {
                    out = ": keepalive\n\n";
                }
            }
            if (out.empty()) {
                return true;
            }
            lastWrite = Clock::now();
            // Blocks this stream's thread alone, for at most the write timeout.
            return sink.write(out.data(), out.size());
        });
}

void Server::State::routes() {
    // Defence in depth beside the page's own escaping: no inline script runs, nothing loads
    // from elsewhere, no other site frames the page.
    http.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
         "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    });
    http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.method == "GET" || request.method == "HEAD") {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        response.status = 405;
        response.set_header("Allow", "GET, HEAD");
        response.set_content("read-only: GET and HEAD only\n", "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            response.set_content(response.status == 404 ? "not found\n" : "error\n",
                                 "text/plain; charset=utf-8");
        }
    });
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            response.status = 500;
            response.set_content("the station could not answer\n", "text/plain; charset=utf-8");
        });

    const auto serveAsset = [](const char* name) {
        return [name](const httplib::Request&, httplib::Response& response) {
            const Asset file = asset(name);
            response.set_content(file.body.data(), file.body.size(),
                                 std::string(file.type).c_str());
        };
    };
    // One shell for every page; the script draws the one its address names.
    for (const char* page : {"/", "/runs", R"(/runs/\d+)", "/stats"}) {
        http.Get(page, serveAsset("page.html"));
    }
    http.Get("/assets/app.js", serveAsset("app.js"));
    http.Get("/assets/style.css", serveAsset("style.css"));

    const auto json = [](httplib::Response& response, const std::string& body) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(body, "application/json");
    };
    http.Get("/api/fixtures", [this, json](const httplib::Request&, httplib::Response& response) {
        json(response, api.fixturesJson());
    });
    http.Get("/api/fixtures/events", [this](const httplib::Request&, httplib::Response& response) {
        liveStream(response);
    });
    http.Get(
        "/api/runs", [this, json](const httplib::Request& request, httplib::Response& response) {
            if (badFilter(request, response)) {
                return;
            }
            RunQuery query;
            query.unit = param(request, "unit");
            std::transform(query.unit.begin(), query.unit.end(), query.unit.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            query.fixture = param(request, "fixture");
            query.model = param(request, "model");
            query.verdict = param(request, "verdict");
            query.since = param(request, "since");
            query.until = param(request, "until");
            const std::string& limit = param(request, "limit");
            if (!limit.empty() && limit.find_first_not_of("0123456789") == std::string::npos) {
                constexpr unsigned kMost = 5000;  // one page of history, not the whole database
                query.limit = limit.size() > 4
                                  ? kMost
                                  : std::clamp(static_cast<unsigned>(std::stoul(limit)), 1U, kMost);
            }
            json(response, api.runsJson(query));
        });
    http.Get("/api/stats",
             [this, json](const httplib::Request& request, httplib::Response& response) {
                 if (badFilter(request, response)) {
                     return;
                 }
                 StatsQuery query;
                 query.since = param(request, "since");
                 query.until = param(request, "until");
                 query.model = param(request, "model");
                 query.fixture = param(request, "fixture");
                 json(response, api.statsJson(query));
             });

    // One run and its files; the records come as downloads, the log as plain text.
    using Reader = std::function<std::optional<std::string>(std::int64_t)>;
    struct File {
        const char* suffix;
        Reader read;
        const char* type;
        const char* download;  // file name extension, or null to show in the browser
    };
    const File files[] = {
        {"", [this](std::int64_t id) { return api.runJson(id); }, "application/json", nullptr},
        {"/log", [this](std::int64_t id) { return api.runLog(id); }, "text/plain; charset=utf-8",
         nullptr},
        {"/junit", [this](std::int64_t id) { return api.runJunit(id); }, "application/xml", ".xml"},
        {"/record", [this](std::int64_t id) { return api.runRecordJson(id); }, "application/json",
         ".json"},
    };
    for (const File& file : files) {
        http.Get(std::string(R"(/api/runs/(\d+))") + file.suffix,
                 [file](const httplib::Request& request, httplib::Response& response) {
                     const auto id = runId(request);
                     const auto body = id ? file.read(*id) : std::nullopt;
                     if (!body) {
                         notFound(response);
                         return;
                     }
                     if (file.download) {
                         response.set_header("Content-Disposition", "attachment; filename=\"run-" +
                                                                        std::to_string(*id) +
                                                                        file.download + "\"");
                     }
                     response.set_header("Cache-Control", "no-store");
                     response.set_content(*body, file.type);
                 });
    }
}

Server::Server(Api& api, Limits limits) : state_(std::make_unique<State>(api, limits)) {
    State& state = *state_;
    state.http.new_task_queue = [&state] {
        return new BoundedPool(state.limits.threads, state.limits.queued);
    };
    state.http.set_write_timeout(limits.writeTimeoutSeconds, 0);
    state.http.set_read_timeout(5, 0);
    state.http.set_keep_alive_timeout(2);
    state.http.set_payload_max_length(64 * 1024);  // nothing here reads a body
    state.routes();
}

Server::~Server() {
    stop();
}

bool Server::start(const Listen& listen, std::string& reason) {
    State& state = *state_;
    errno = 0;
    const bool bound = listen.port == 0
                           ? (state.port = state.http.bind_to_any_port(listen.host)) > 0
                           : state.http.bind_to_port(listen.host, listen.port);
    if (!bound) {
        const int error = errno;
        reason = "cannot serve the page on " + listen.host + ":" + std::to_string(listen.port) +
                 (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
        return false;
    }
    if (listen.port != 0) {
        state.port = listen.port;
    }
    state.thread = std::thread([&state] {
        yieldToConsoles();
        state.http.listen_after_bind();
        state.finished = true;
    });
    return true;
}

int Server::port() const {
    return state_->port;
}

void Server::stop() {
    State& state = *state_;
    if (!state.thread.joinable()) {
        return;
    }
    state.stopping = true;
    // A stop before the listening thread is up would be lost.
    while (!state.http.is_running() && !state.finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    state.http.stop();
    state.thread.join();
}

}  // namespace bw_station::web
