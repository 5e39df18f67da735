// `bw-station run`: follows every fixture's console in one thread and stores every run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/Api.hpp"

namespace bw_station {

struct FixtureSpec {
    std::string name;
    std::string device;
};

struct StationOptions {
    std::string database;
    unsigned baud = 115200;
    std::vector<FixtureSpec> fixtures;
};

// Something served beside the consoles (the live page): started once the database is open
// and the consoles are being followed, destroyed (and so stopped) before the Api it was given.
class Service {
  public:
    virtual ~Service() = default;
};
using ServiceStarter = std::function<std::unique_ptr<Service>(Api&)>;

// Runs until SIGINT or SIGTERM, then stores what has arrived; the exit status. SIGINT and
// SIGTERM are blocked in every thread the starter creates, so that the loop alone sees them.
int runStation(const StationOptions& options, const ServiceStarter& startService = {});

// Stores console logs captured elsewhere, all as the console of `fixture`; the exit status.
int importLogs(const std::string& database, const std::string& fixture,
               const std::vector<std::string>& logs);

}  // namespace bw_station
