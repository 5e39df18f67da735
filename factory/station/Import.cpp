// `bw-station import`: logs captured elsewhere go through the same splitting as a live console.
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "station/Splitter.hpp"
#include "station/Station.hpp"
#include "station/Store.hpp"

namespace bw_station {

int importLogs(const std::string& database, const std::string& fixture,
               const std::vector<std::string>& logs) {
    try {
        Store store(database);
        const std::int64_t id = store.fixture(fixture, "");
        for (const std::string& path : logs) {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            struct stat about {};
            if (!in || ::stat(path.c_str(), &about) != 0) {
                std::cerr << "bw-station: cannot read " << path << "\n";
                return 1;
            }
            // A log carries no arrival times: its runs are dated when the capture ended.
            const double time = static_cast<double>(about.st_mtim.tv_sec) +
                                static_cast<double>(about.st_mtim.tv_nsec) / 1e9;
            const std::string log = bytes.str();
            if (log.empty()) {
                continue;
            }
            store.begin();
            Splitter splitter(store.streamEnd(id));
            store.appendBytes(id, splitter.offset(), time, log);
            splitter.feed(log, time);
            splitter.finish(StreamEnd::logEnd, "");
            std::int64_t runId = 0;
            for (const RunEvent& event : splitter.takeEvents()) {
                if (event.kind == EventKind::started) {
                    runId = store.insertRun(id, event.run);
                } else {
                    store.updateRun(runId, event.run);
                }
                if (event.kind == EventKind::ended) {
                    std::cout << path << ": run " << runId << " " << outcomeOf(event.run) << "\n";
                }
            }
            store.commit();
        }
        return 0;
    } catch (const DatabaseError& error) {
        std::cerr << "bw-station: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace bw_station
