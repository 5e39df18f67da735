// Headless chromium for the page's tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace bw_test {

using namespace std::chrono_literals;

// Headless chromium driven over its debugging pipe (fds 3 and 4, messages ended by NUL): the
// page stays open with its live stream, and is read once a condition on it holds.
class Browser {
  public:
    Browser()
        : profile_(std::filesystem::temp_directory_path() /
                   ("bw-station-web-" + std::to_string(::getpid()))) {
        int commands[2];
        int replies[2];
        if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) {
            return;
        }
        const std::string dir = "--user-data-dir=" + profile_.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Out of the way first: a pipe's own end may already be 3 or 4.
            const int command = ::fcntl(commands[0], F_DUPFD, 10);
            const int reply = ::fcntl(replies[1], F_DUPFD, 10);
            ::dup2(command, 3);
            ::dup2(reply, 4);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--no-first-run", "--remote-debugging-pipe",
                     dir.c_str(), "about:blank", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(commands[0]);
        ::close(replies[1]);
        to_ = commands[1];
        from_ = replies[0];
    }
    ~Browser() {
        call("Browser.close", "{}");
        ::close(to_);
        ::close(from_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(profile_);
    }

    struct Tab {
        std::string target;
        std::string session;
    };
    Tab open(const std::string& url) {
        Tab tab;
        tab.target = field(call("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId");
        tab.session = field(
            call("Target.attachToTarget", "{\"targetId\":\"" + tab.target + "\",\"flatten\":true}"),
            "sessionId");
        return tab;
    }
    // The value of a script expression, as a string.
    std::string evaluate(const Tab& tab, const std::string& expression) {
        std::string quoted;
        for (const char c : expression) {
            quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        }
        return field(
            call("Runtime.evaluate",
                 "{\"expression\":\"String(" + quoted + ")\",\"returnByValue\":true}", tab.session),
            "value");
    }
    // The page's markup once `condition` (a script expression) holds; empty after 15 s.
    std::string when(const Tab& tab, const std::string& condition) {
        for (int i = 0; i < 150; ++i) {
            std::this_thread::sleep_for(100ms);
            const std::string html =
                evaluate(tab, "(" + condition + ") ? document.documentElement.outerHTML : ''");
            if (!html.empty()) {
                return html;
            }
        }
        return "";
    }
    void close(const Tab& tab) {
        call("Target.closeTarget", "{\"targetId\":\"" + tab.target + "\"}");
    }
    std::string show(const std::string& url, const std::string& condition) {
        const Tab tab = open(url);
        const std::string html = when(tab, condition);
        close(tab);
        return html;
    }

  private:
    std::string call(const std::string& method, const std::string& params,
                     const std::string& session = "") {
        const std::string id = std::to_string(++lastId_);
        const std::string message =
            "{\"id\":" + id + ",\"method\":\"" + method + "\",\"params\":" + params +
            (session.empty() ? "" : ",\"sessionId\":\"" + session + "\"") + "}";
        if (::write(to_, message.c_str(), message.size() + 1) !=
            static_cast<ssize_t>(message.size() + 1)) {
            return "";
        }
        // Events come in between; the answer is the message with our id.
        for (;;) {
            const auto end = buffer_.find('\0');
            if (end != std::string::npos) {
                std::string reply = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (reply.rfind("{\"id\":" + id + ",", 0) == 0) {
                    return reply;
                }
                continue;
            }
            pollfd ready{from_, POLLIN, 0};
            char chunk[65536];
            const ssize_t n =
                ::poll(&ready, 1, 20000) == 1 ? ::read(from_, chunk, sizeof chunk) : 0;
            if (n <= 0) {
                return "";
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // The string value of the first `"name":"…"` in a reply, unescaped.
    static std::string field(const std::string& reply, const std::string& name) {
        const auto at = reply.find("\"" + name + "\":\"");
        std::string out;
        for (size_t i = at == std::string::npos ? reply.size() : at + name.size() + 4;
             i < reply.size() && reply[i] != '"'; ++i) {
            if (reply[i] != '\\' || i + 1 >= reply.size()) {
                out += reply[i];
                continue;
            }
            const char c = reply[++i];
            if (c == 'u' && i + 4 < reply.size()) {
                const unsigned code =
                    static_cast<unsigned>(std::stoul(reply.substr(i + 1, 4), nullptr, 16));
                i += 4;
                if (code < 0x80) {
                    out += static_cast<char>(code);
                } else if (code < 0x800) {
                    out += static_cast<char>(0xc0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3f));
                } else {
                    out += static_cast<char>(0xe0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
                    out += static_cast<char>(0x80 | (code & 0x3f));
                }
            } else {
                out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            }
        }
        return out;
    }

    std::filesystem::path profile_;
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    int lastId_ = 0;
    std::string buffer_;
};

}  // namespace bw_test
