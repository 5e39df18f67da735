// The LED patterns, one after another on the LEDs of one simulated hub.
#include "Main/progress.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "Main/perform_normal_boot.hpp"
#include "hub/Hub.hpp"

namespace bw_selftest {
namespace {

TEST(Patterns, EachStepShowsItsLeds) {
    BW_REQUIRE_HUB();
    bw_sim::runInHub(bw_sim::Scenario(), [](bw_sim::Hub& hub) {
        LEDs leds(11, 12, 13);
        LEDs none;
        const std::pair<std::function<bool()>, const char*> steps[] = {
            {[&] { return showProgress(leds, 0); }, "1 off off on"},
            {[&] { return showProgress(leds, 2); }, "1 on off off"},
            {[&] { return showResult(leds, true); }, "1 off on off"},
            {[&] { return showResult(leds, false); }, "1 on off off"},
            {[&] { return showProgress(none, 0) || showResult(none, true); }, "0 on off off"},
            {[&] { return performNormalBoot(leds, Model::crate_1v0_b_eu), true; }, "1 on off off"},
            {[&] { return performNormalBoot(leds, Model::prism_1v0_1_eu), true; }, "1 on on on"},
        };
        for (const auto& [show, expected] : steps) {
            const bool result = show();
            EXPECT_EQ(expected, std::to_string(result) + " " + hub.leds().text());
        }
        EXPECT_EQ(21U, hub.gpio().timeline().size())
            << "exports, then each pattern writes all three";
    });
}

}  // namespace
}  // namespace bw_selftest
