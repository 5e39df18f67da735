// The LED patterns, one after another on the LEDs of one simulated hub.
#include "Main/progress.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "Main/perform_normal_boot.hpp"
#include "hub/Hub.hpp"

namespace bw_selftest {
namespace {

using bw_sim::lit;

TEST(Patterns, EachStepShowsItsLeds) {
    BW_REQUIRE_HUB();
    const bw_sim::Scenario board =
        bw_sim::Scenario().exported(11, true, 0).exported(12, true, 0).exported(13, true, 0);
    bw_sim::runInHub(board, [](bw_sim::Hub& hub) {
        LEDs leds(11, 12, 13);
        LEDs none;
        const struct {
            const char* name;
            std::function<bool()> show;
            bool result;
            bw_sim::LedState after;
        } steps[] = {
            {"clean progress", [&] { return showProgress(leds, 0); }, true, lit(0, 0, 1)},
            {"failure progress", [&] { return showProgress(leds, 2); }, true, lit(1, 0, 0)},
            {"passed", [&] { return showResult(leds, true); }, true, lit(0, 1, 0)},
            {"failed", [&] { return showResult(leds, false); }, true, lit(1, 0, 0)},
            {"no LEDs", [&] { return showProgress(none, 0) || showResult(none, true); }, false,
             lit(1, 0, 0)},
            {"normal boot on crate",
             [&] { return performNormalBoot(leds, Model::crate_1v0_b_eu), true; }, true,
             lit(1, 0, 0)},
            {"normal boot on prism",
             [&] { return performNormalBoot(leds, Model::prism_1v0_1_eu), true; }, true,
             lit(1, 1, 1)},
        };
        for (const auto& step : steps) {
            EXPECT_EQ(step.result, step.show()) << step.name;
            EXPECT_EQ(step.after, hub.leds()) << step.name << ": " << hub.leds().text();
        }
        EXPECT_EQ(15U, hub.gpio().timeline().size()) << "every pattern writes all three";
    });
}

}  // namespace
}  // namespace bw_selftest
