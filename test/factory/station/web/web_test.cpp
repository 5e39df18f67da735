// The station's page against a stand-in for the station: the HTTP answers, the live stream,
// and what a real browser (headless chromium) shows, with markup from a console inside.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "Browser.hpp"
#include "station/web/Server.hpp"

namespace {

using namespace std::chrono_literals;

// What a console might print, in every field it can reach.
const std::string kHostile =
    R"(<script>document.title='pwned'</script>\"><img src=x onerror=alert(1)>)";

std::string fixtures(const std::string& state, const std::string& test, const char* outcome) {
    return R"({"fixtures":[{"fixture":"F1","device":"/dev/ttyUSB0","state":")" + state +
           R"(","model":"prism-1v1-eu","unit":"70:b3:d5:00:00:01","test":")" + test +
           R"(","testIndex":3,"testCount":4,"elapsedSeconds":12.5,"verdict":null,"run":7,)"
           R"("tests":[{"name":"Ethernet","outcome":"PASS"},{"name":")" +
           kHostile + R"(","outcome":)" + outcome +
           R"(}]},{"fixture":"F2","device":"/dev/ttyUSB1",)"
           R"("state":"offline","model":null,"unit":null,"test":null,"testIndex":null,)"
           R"("testCount":null,"elapsedSeconds":null,"verdict":"passed","run":6,"tests":[]}],)"
           R"("version":1})";
}

class FakeApi : public bw_station::Api {
  public:
    std::string fixturesJson() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return fixtures_;
    }
    std::uint64_t waitForChange(std::uint64_t seen, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return version_ != seen; });
        ++streamWaits_;
        return version_;
    }
    std::string runsJson(const bw_station::RunQuery& query) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lastUnit_ = query.unit;
        lastLimit_ = query.limit;
        return R"({"runs":[{"id":7,"fixture":"F1","unit":"70:b3:d5:00:00:01","model":"prism-1v1-eu",)"
               R"("road":"first boot","verdict":"failed","reason":")" +
               kHostile + R"(","start":"2026-12-08T09:30:00Z","end":"2026-12-08T09:31:00Z"}]})";
    }
    std::optional<std::string> runJson(std::int64_t id) override {
        if (id != 7) {
            return std::nullopt;
        }
        return R"({"id":7,"fixture":"F1","unit":"70:b3:d5:00:00:01","model":"prism-1v1-eu",)"
               R"("road":"first boot","verdict":"failed","reason":"the Zigbee test failed",)"
               R"("start":"2026-12-08T09:30:00Z","end":"2026-12-08T09:31:00Z",)"
               R"("record":{"verdict":"failed","tests":[{"name":"RTC","measurements":[{"name":)"
               R"("rtcDriftSeconds","value":0.4,"limits":"at most 2","check":"passed"}]}]},)"
               R"("tests":[{"name":"Zigbee","outcome":"FAIL","start":"2026-12-08T09:30:10Z",)"
               R"("duration":20.5}]})";
    }
    std::optional<std::string> runLog(std::int64_t id) override {
        return id == 7 ? std::optional<std::string>("boot\r\n" + kHostile + "\r\n") : std::nullopt;
    }
    std::optional<std::string> runJunit(std::int64_t id) override {
        return id == 7 ? std::optional<std::string>("<testsuites/>") : std::nullopt;
    }
    std::optional<std::string> runRecordJson(std::int64_t id) override {
        return id == 7 ? std::optional<std::string>("{}") : std::nullopt;
    }
    std::string statsJson(const bw_station::StatsQuery&) override {
        return R"({"units":10,"attempts":12,"firstPassYield":0.8,"finalYield":0.9,"retests":2,)"
               R"("incomplete":1,"unidentified":0,"normalBoots":3,"unsupported":0,"failures":[)"
               R"({"kind":"test","name":"Zigbee","count":3},{"kind":"step","name":")" +
               kHostile + R"(","count":1}]})";
    }

    void setFixtures(std::string json) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fixtures_ = std::move(json);
            ++version_;
        }
        changed_.notify_all();
    }
    int streamWaits() {
        std::lock_guard<std::mutex> lock(mutex_);
        return streamWaits_;
    }
    std::string lastUnit_;
    unsigned lastLimit_ = 0;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string fixtures_ = fixtures("testing", "Zigbee", "null");
    std::uint64_t version_ = 1;
    int streamWaits_ = 0;
};

struct Served {
    explicit Served(bw_station::web::Limits limits = {}) : server(api, limits) {
        std::string reason;
        if (!server.start({"127.0.0.1", 0}, reason)) {
            ADD_FAILURE() << reason;
        }
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server.port()); }
    FakeApi api;
    bw_station::web::Server server;
};

TEST(StationWeb, AnswersReadOnlyWithTheRightTypesAndHeaders) {
    Served served;
    httplib::Client client("127.0.0.1", served.server.port());
    struct Case {
        const char* method;
        const char* path;
        int status;
        const char* type;  // start of Content-Type
        const char* body;  // part of the body
        const char* header;
        const char* headerValue;
    };
    const Case cases[] = {
        {"GET", "/", 200, "text/html", "/assets/app.js", "Content-Security-Policy",
         "script-src 'self'"},
        {"GET", "/runs/7", 200, "text/html", "<main", "X-Content-Type-Options", "nosniff"},
        {"GET", "/stats", 200, "text/html", "", nullptr, nullptr},
        {"GET", "/assets/app.js", 200, "text/javascript", "textContent", nullptr, nullptr},
        {"GET", "/assets/style.css", 200, "text/css", "--failed", nullptr, nullptr},
        {"HEAD", "/", 200, "text/html", "", nullptr, nullptr},
        {"GET", "/api/fixtures", 200, "application/json", "\"F2\"", "Cache-Control", "no-store"},
        {"GET", "/api/runs?unit=70:B3:D5:00:00:01&limit=999999", 200, "application/json",
         "\"id\":7", nullptr, nullptr},
        {"GET", "/api/runs/7", 200, "application/json", "measurements", nullptr, nullptr},
        {"GET", "/api/runs/7/log", 200, "text/plain", "<script>", nullptr, nullptr},
        {"GET", "/api/runs/7/junit", 200, "application/xml", "<testsuites/>", "Content-Disposition",
         "attachment; filename=\"run-7.xml\""},
        {"GET", "/api/runs/7/record", 200, "application/json", "{}", "Content-Disposition",
         "attachment; filename=\"run-7.json\""},
        {"GET", "/api/stats?since=2026-12-08T00:00:00Z", 200, "application/json", "Zigbee", nullptr,
         nullptr},
        {"GET", "/api/runs?since=2026-13-45", 400, "application/json", "since is not", nullptr,
         nullptr},
        {"GET", "/api/stats?until=yesterday", 400, "application/json", "until is not", nullptr,
         nullptr},
        {"GET", "/api/runs/8", 404, "text/plain", "not found", nullptr, nullptr},
        {"GET", "/api/runs/99999999999999999999999", 404, "text/plain", "", nullptr, nullptr},
        {"GET", "/runs/x", 404, "text/plain", "", nullptr, nullptr},
        {"GET", "/etc/passwd", 404, "text/plain", "", nullptr, nullptr},
        {"GET", "/assets/../../etc/passwd", 404, "text/plain", "", nullptr, nullptr},
        {"POST", "/api/runs", 405, "text/plain", "read-only", "Allow", "GET, HEAD"},
        {"DELETE", "/api/runs/7", 405, "text/plain", "", nullptr, nullptr},
        {"PUT", "/", 405, "text/plain", "", nullptr, nullptr},
        {"OPTIONS", "/", 405, "text/plain", "", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        httplib::Request request;
        request.method = c.method;
        request.path = c.path;
        const auto response = client.send(request);
        ASSERT_TRUE(response) << c.method << " " << c.path;
        EXPECT_EQ(response->status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(response->get_header_value("Content-Type").rfind(c.type, 0), 0U)
            << c.path << ": " << response->get_header_value("Content-Type");
        EXPECT_NE(response->body.find(c.body), std::string::npos) << c.path;
        if (c.header) {
            EXPECT_NE(response->get_header_value(c.header).find(c.headerValue), std::string::npos)
                << c.path << ": " << c.header;
        }
    }
    EXPECT_EQ(served.api.lastUnit_, "70:b3:d5:00:00:01");
    EXPECT_EQ(served.api.lastLimit_, 5000U);
}

// Reads a live stream until `until` has arrived or a few seconds passed.
std::string readStream(httplib::Client& client, const std::string& until, int* status = nullptr) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    const auto response = client.Get("/api/fixtures/events", [&](const char* data, size_t length) {
        seen.append(data, length);
        return seen.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline;
    });
    if (status) {
        *status = response ? response->status : -1;
    }
    return seen;
}

TEST(StationWeb, LiveStreamFollowsChangesIsCappedAndNeverWaitsOnASlowPage) {
    bw_station::web::Limits limits;
    limits.streams = 2;
    limits.threads = 4;
    Served served(limits);

    // A page that never reads its stream, while the state changes quickly and is large.
    httplib::Client stalled("127.0.0.1", served.server.port());
    std::thread slowPage([&] {
        stalled.Get("/api/fixtures/events", [&](const char*, size_t) {
            std::this_thread::sleep_for(3s);
            return false;
        });
    });
    std::this_thread::sleep_for(200ms);

    // A second page sees the first state and then the change, without asking again.
    httplib::Client live("127.0.0.1", served.server.port());
    std::thread change([&] {
        std::this_thread::sleep_for(300ms);
        served.api.setFixtures(fixtures("failed", "Zigbee", "\"FAIL\"") + std::string(200000, ' '));
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string stream = readStream(live, "\"failed\"");
    change.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(stream.rfind("retry: 2000\ndata: {", 0), 0U) << stream.substr(0, 80);
    EXPECT_NE(stream.find("\"testing\""), std::string::npos);
    EXPECT_NE(stream.find("\"failed\""), std::string::npos);

    // Two streams open: a third is turned away, and everything else still answers at once.
    httplib::Client second("127.0.0.1", served.server.port());
    std::thread holder([&] { readStream(second, "never"); });
    std::this_thread::sleep_for(300ms);
    int status = 0;
    httplib::Client third("127.0.0.1", served.server.port());
    readStream(third, "never", &status);
    EXPECT_EQ(status, 503);
    const auto before = std::chrono::steady_clock::now();
    const auto answer = httplib::Client("127.0.0.1", served.server.port()).Get("/api/fixtures");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);

    // Stopping ends the open streams within about a second.
    const auto stopping = std::chrono::steady_clock::now();
    served.server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 3s);
    holder.join();
    slowPage.join();
}

TEST(StationWeb, ListenOption) {
    struct Case {
        const char* text;
        bool valid;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"0.0.0.0:80", true, "0.0.0.0", 80},
        {"[::1]:8081", true, "::1", 8081},
        {"none", true, nullptr, 0},
        {"127.0.0.1", false, nullptr, 0},
        {":8080", false, nullptr, 0},
        {"127.0.0.1:0", true, "127.0.0.1", 0},
        {"127.0.0.1:65536", false, nullptr, 0},
        {"127.0.0.1:80x", false, nullptr, 0},
        {"127.0.0.1:99999999999", false, nullptr, 0},
    };
    for (const Case& c : cases) {
        std::string reason;
        const auto listen = bw_station::web::parseListen(c.text, reason);
        EXPECT_EQ(reason.empty(), c.valid) << c.text;
        EXPECT_EQ(listen.has_value(), c.host != nullptr) << c.text;
        if (listen && c.host) {
            EXPECT_EQ(listen->host, c.host);
            EXPECT_EQ(listen->port, c.port);
        }
    }
}

TEST(StationWeb, BrowserShowsTheLineLiveAndConsoleMarkupAsText) {
    ASSERT_EQ(std::system("command -v chromium >/dev/null"), 0)
        << "no chromium: scripts/ensure-deps --test installs it";
    Served served;
    // The tile's test ends once the page follows the stream: it must change without a reload.
    std::thread change([&] {
        for (int i = 0; i < 600 && served.api.streamWaits() == 0; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        served.api.setFixtures(fixtures("failed", "Zigbee", "\"FAIL\""));
    });
    struct Case {
        const char* path;
        const char* ready;  // a script expression true once the page is drawn
        std::vector<const char*> shown;
    };
    const Case cases[] = {
        {"/",
         "document.body.dataset.updates == 2",
         {"state-failed", ">failed<", "state-passed\" data-fixture=\"F2\"", ">offline<",
          "70:b3:d5:00:00:01", "outcome-fail", "data-updates=\"2\""}},
        {"/runs?unit=70:b3:d5:00:00:01",
         "document.querySelector('table')",
         {"href=\"/runs/7\"", "verdict-failed"}},
        {"/runs/7",
         "document.querySelector('pre.log')",
         {"Run 7: failed", "<td>rtcDriftSeconds</td><td>0.4</td>", "<dd>F1</dd>", "20.5 s",
          "href=\"/api/runs/7/junit\""}},
        {"/stats",
         "document.querySelector('svg')",
         {"80.0 %", "90.0 %", "<dt>Units</dt><dd>10</dd>", "<rect", "75 %", "step: "}},
    };
    bw_test::Browser browser;
    for (const Case& c : cases) {
        const std::string dom = browser.show(served.url() + c.path, c.ready);
        for (const char* text : c.shown) {
            EXPECT_NE(dom.find(text), std::string::npos) << c.path << " lacks " << text << "\n"
                                                         << dom;
        }
        // The console's markup arrives as text on every page, and none of it became an element.
        EXPECT_NE(dom.find("&lt;script&gt;document.title='pwned'&lt;/script&gt;"),
                  std::string::npos)
            << c.path;
        EXPECT_EQ(dom.find("<img src=\"x\""), std::string::npos) << c.path;
        EXPECT_EQ(dom.find("<script>document"), std::string::npos) << c.path;
        EXPECT_EQ(dom.find("pwned</title>"), std::string::npos) << c.path;
    }
    change.join();
}

TEST(StationWeb, LinePageFindsTheStationAgainAfterARestart) {
    auto first = std::make_unique<Served>();
    const int port = first->server.port();
    bw_test::Browser browser;
    const auto tab = browser.open(first->url() + "/");
    ASSERT_FALSE(browser.when(tab, "document.body.dataset.updates == 1").empty());
    browser.evaluate(tab, "window.notReloaded = true");
    first.reset();
    EXPECT_FALSE(
        browser.when(tab, "document.getElementById('status').textContent.includes('reconnecting')")
            .empty());
    FakeApi api;
    api.setFixtures(fixtures("passed", "Zigbee", "\"PASS\""));
    bw_station::web::Server again(api);
    std::string reason;
    ASSERT_TRUE(again.start({"127.0.0.1", port}, reason)) << reason;
    EXPECT_FALSE(browser
                     .when(tab,
                           "window.notReloaded && "
                           "document.querySelector('.state-passed[data-fixture=\"F1\"]')")
                     .empty());
    browser.close(tab);
}

}  // namespace
