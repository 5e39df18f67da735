// The station's web page: the line, the history and the yield, read from an Api by the
// server's own threads, so that no page, however many or however slow, touches a console.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "station/Api.hpp"

namespace bw_station::web {

struct Listen {
    std::string host;  // an address, never a name to resolve: the line's network has no DNS
    int port = 0;      // 0: the system picks a free one (Server::port says which)
};

// "ADDR:PORT" ("[::1]:8080" for IPv6) or "none". Empty `reason` on success; "none" leaves
// the optional empty.
std::optional<Listen> parseListen(std::string_view text, std::string& reason);

struct Limits {
    std::size_t streams = 32;     // live pages at once; one more gets 503 and retries
    std::size_t threads = 40;     // the live pages' threads plus those for everything else
    std::size_t queued = 64;      // accepted connections waiting for a thread; beyond that
                                  // the server stops accepting and the kernel's backlog waits
    int streamSeconds = 300;      // a live stream then ends and the page opens a new one
    int keepaliveSeconds = 15;    // a comment line keeps proxies and dead peers honest
    int eventGapMs = 100;         // at most ten events a second for each page
    int writeTimeoutSeconds = 5;  // a client that reads nothing for this long is dropped
};

class Server {
  public:
    explicit Server(Api& api, Limits limits = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and serves from a thread of its own; false with a one-line reason.
    bool start(const Listen& listen, std::string& reason);
    // The bound port (useful after port 0).
    int port() const;
    // Ends every live stream within about a second and joins the server's threads.
    void stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace bw_station::web
