// Headless chromium driven over its debugging pipe (fds 3 and 4, messages ended by NUL): a
// page stays open with its live stream, and is read once a condition on it holds.
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

class Browser {
  public:
    Browser() {
        int commands[2];
        int replies[2];
        if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) {
            return;
        }
        const std::string dir = "--user-data-dir=" + profile_.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);  // its helper processes go with it
            // Out of the way first: a pipe's own end may already be 3 or 4.
            ::dup2(::fcntl(commands[0], F_DUPFD, 10), 3);
            ::dup2(::fcntl(replies[1], F_DUPFD, 10), 4);
            ::dup2(::open("/dev/null", O_WRONLY), 2);
            ::execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--remote-debugging-pipe", dir.c_str(),
                     "about:blank", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(commands[0]);
        ::close(replies[1]);
        to_ = commands[1];
        from_ = replies[0];
    }
    ~Browser() {
        // Asked to close, it ends its helper processes itself; what is left is killed.
        const std::string close = "{\"id\":0,\"method\":\"Browser.close\",\"params\":{}}";
        const bool asked = ::write(to_, close.c_str(), close.size() + 1) > 0;
        ::close(to_);
        for (int i = 0; asked && pid_ > 0 && i < 100 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(from_);
        std::error_code ignored;
        std::filesystem::remove_all(profile_, ignored);
    }

    struct Tab {
        std::string target, session;
    };
    Tab open(const std::string& url) {
        const std::string target =
            value(call("Target.createTarget", "{\"url\":\"" + url + "\"}"), "targetId");
        return {target, value(call("Target.attachToTarget",
                                   "{\"targetId\":\"" + target + "\",\"flatten\":true}"),
                              "sessionId")};
    }
    void close(const Tab& tab) {
        call("Target.closeTarget", "{\"targetId\":\"" + tab.target + "\"}");
    }
    // A script expression's value as text.
    std::string evaluate(const Tab& tab, const std::string& expression) {
        std::string quoted;
        for (const char c : expression) {
            quoted += (c == '"' || c == '\\' ? "\\" : "") + std::string(1, c);
        }
        // URI-encoded, so that the reply's string needs no JSON unescaping.
        const std::string encoded = value(call("Runtime.evaluate",
                                               "{\"expression\":\"encodeURIComponent(String(" +
                                                   quoted + "))\",\"returnByValue\":true}",
                                               tab.session),
                                          "value");
        std::string text;
        for (size_t i = 0; i < encoded.size(); ++i) {
            const bool escaped = encoded[i] == '%' && i + 2 < encoded.size();
            text += escaped ? static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16))
                            : encoded[i];
            i += escaped ? 2 : 0;
        }
        return text;
    }
    // The page's markup once `condition` holds; empty after 15 s.
    std::string when(const Tab& tab, const std::string& condition) {
        for (int i = 0; i < 150; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::string html =
                evaluate(tab, "(" + condition + ") ? document.documentElement.outerHTML : ''");
            if (!html.empty()) {
                return html;
            }
        }
        return "";
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
        const std::string id = "{\"id\":" + std::to_string(++lastId_) + ",";
        const std::string message = id + "\"method\":\"" + method + "\",\"params\":" + params +
                                    (session.empty() ? "" : ",\"sessionId\":\"" + session + "\"") +
                                    "}";
        if (::write(to_, message.c_str(), message.size() + 1) <= 0) {
            return "";
        }
        for (;;) {  // events come in between; the answer is the message with our id
            const auto end = buffer_.find('\0');
            if (end != std::string::npos) {
                const std::string reply = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (reply.rfind(id, 0) == 0) {
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
    // A string field of a reply.
    static std::string value(const std::string& reply, const std::string& name) {
        const auto at = reply.find("\"" + name + "\":\"");
        if (at == std::string::npos) {
            return "";
        }
        const auto from = at + name.size() + 4;
        return reply.substr(from, reply.find('"', from) - from);
    }

    std::filesystem::path profile_ =
        std::filesystem::temp_directory_path() / ("bw-station-web-" + std::to_string(::getpid()));
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    int lastId_ = 0;
    std::string buffer_;
};

}  // namespace bw_test
