// The runner with suites of the test's own, and the entry's guard, inside a simulated hub
// (the steps around the tests run their commands there).
#include "Main/perform_test.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Main/entry.hpp"
#include "hub/Hub.hpp"
#include "setup/Setup.hpp"

namespace bw_selftest {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{20000};

class Runner : public ::testing::Test {
  protected:
    void SetUp() override { BW_REQUIRE_HUB(); }
};

// A name too long to frame; its output does not end with a line feed.
class LongNamed : public Test {
  public:
    LongNamed()
        : Test("A test name of seventy-eight characters, which leaves no room for its framing.") {}
    bool run() override {
        std::cout << "no line feed";
        return true;
    }
};

// A test that ends in an exception instead of a verdict.
class Throwing : public Test {
  public:
    Throwing() : Test("Throwing") {}
    bool run() override { throw std::runtime_error("out of memory"); }
};

// Runs the suite in a hub and expects each of `pieces` in the report.
void expectReport(Suite (*makeSuite)(Model), const std::vector<std::string>& pieces) {
    bw_sim::runInHub(bw_sim::Scenario(), [&](bw_sim::Hub& hub) {
        bw_sim::ProgramRun& run = hub.start([makeSuite] {
            LEDs leds;
            performTestWith(leds, Model::prism_1v1_eu, makeSuite);
        });
        ASSERT_TRUE(run.waitForExit(kLimit)) << run.out() << run.err();
        EXPECT_EQ("", run.err());
        for (const std::string& piece : pieces) {
            EXPECT_NE(std::string::npos, run.out().find(piece)) << run.out();
        }
    });
}

TEST_F(Runner, ALongNameIsPrintedUnframedAndTheVerdictStartsALine) {
    const auto makeSuite = [](Model) {
        Suite suite;
        suite.push_back(std::make_unique<LongNamed>());
        return suite;
    };
    expectReport(
        makeSuite,
        {"\n\nA test name of seventy-eight characters, which leaves no room for its framing.\n"
         "no line feed\nPASS\n" +
         std::string(80, '=') + "\n\n\nAll tests passed.\n"});
}

TEST_F(Runner, AnEmptySuitePassesAtOnceAndProvisions) {
    expectReport([](Model) { return Suite(); }, {"Running /usr/bin/svc -d /etc/service/relaylink\n"
                                                 "All tests passed.\nRunning factory tool. \n\n",
                                                 "Running /bin/sync\n"});
}

TEST_F(Runner, WhatEscapesTheRunIsReportedAndTheProgramStillWaits) {
    bw_sim::runInHub(bw_sim::Scenario(), [](bw_sim::Hub& hub) {
        bw_sim::ProgramRun& run = hub.start([] {
            runCatchingAll([] { throw std::runtime_error("out of memory"); });
            runCatchingAll([] { throw 7; });
            awaitTermination();
        });
        ASSERT_TRUE(run.waitUntilPaused(kLimit)) << run.out() << run.err();
        EXPECT_EQ("", run.out());
        EXPECT_EQ(
            "bw-selftest: unexpected error: out of memory\n"
            "bw-selftest: unexpected error: unknown exception\n",
            run.err());
        EXPECT_TRUE(run.terminate());
    });
}

TEST_F(Runner, AnExceptionFromATestShowsTheFailedPatternWhileTheProgramWaits) {
    bw_sim::runInHub(bw_sim::Scenario(), [](bw_sim::Hub& hub) {
        bw_sim::ProgramRun& run = hub.start([] {
            runCatchingAll([] {
                LEDs leds = makeLEDs(Model::prism_1v1_eu);
                performTestWith(leds, Model::prism_1v1_eu, [](Model) {
                    Suite suite;
                    suite.push_back(std::make_unique<Throwing>());
                    return suite;
                });
            });
            awaitTermination();
        });
        ASSERT_TRUE(run.waitUntilPaused(kLimit)) << run.out() << run.err();
        EXPECT_EQ("bw-selftest: unexpected error: out of memory\n", run.err());
        std::string values;  // "testing", then "failed"
        for (const bw_sim::GpioWrite& write : hub.gpio().timeline()) {
            values += write.file.find("/value") != std::string::npos ? write.data : "";
        }
        EXPECT_EQ("001100", values);
        EXPECT_TRUE(run.terminate());
    });
}

}  // namespace
}  // namespace bw_selftest
