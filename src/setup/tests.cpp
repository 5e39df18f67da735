// The one table of which hub runs which tests, in which order.
#include "setup/tests.hpp"

#include "Tests/EnOcean.hpp"
#include "Tests/Net.hpp"
#include "Tests/RTC.hpp"
#include "Tests/crate_1v0_b_eu/ZWaveGetVersion.hpp"
#include "Tests/prism_1v0_1v1_eu/ZWaveFlashBridge.hpp"
#include "Tests/prism_1v1_eu/ZigbeeTest.hpp"

namespace bw_selftest {

namespace {

using Suite = std::vector<std::unique_ptr<Test>>;

// What both prism 1v0 models run.
void appendPrismCommonTests(Suite& suite) {
    suite.push_back(std::make_unique<Tests::Net>("Ethernet", "eth"));
    suite.push_back(std::make_unique<Tests::EnOcean>("EnOcean"));
    suite.push_back(std::make_unique<Tests::RTC>("RTC"));
    suite.push_back(std::make_unique<Tests::prism_1v0_1v1_eu::ZWaveFlashBridge>("Z-Wave"));
}

// The prism 1v1 hubs have no EnOcean radio but a Zigbee one.
Suite makePrism1v1Tests() {
    Suite suite;
    suite.push_back(std::make_unique<Tests::Net>("Ethernet", "eth"));
    suite.push_back(std::make_unique<Tests::RTC>("RTC"));
    suite.push_back(std::make_unique<Tests::prism_1v0_1v1_eu::ZWaveFlashBridge>("Z-Wave"));
    suite.push_back(std::make_unique<Tests::prism_1v1_eu::ZigbeeTest>("Zigbee"));
    return suite;
}

}  // namespace

std::vector<std::unique_ptr<Test>> makeTests(Model model) {
    Suite suite;
    switch (model) {
        case Model::prism_1v0_eu:
            suite.push_back(std::make_unique<Tests::Net>("Wifi", "wlan"));
            appendPrismCommonTests(suite);
            break;
        case Model::prism_1v0_1_eu:
            appendPrismCommonTests(suite);
            break;
        case Model::prism_1v1_eu:
        case Model::prism_1v1_eu_proto_1:
        case Model::prism_1v1_eu_proto_2:
            suite = makePrism1v1Tests();
            break;
        case Model::crate_1v0_b_eu:
            suite.push_back(std::make_unique<Tests::Net>("Ethernet", "eth"));
            suite.push_back(std::make_unique<Tests::crate_1v0_b_eu::ZWaveGetVersion>("Z-Wave"));
            break;
        case Model::unsupported:
            break;
    }
    return suite;
}

}  // namespace bw_selftest
