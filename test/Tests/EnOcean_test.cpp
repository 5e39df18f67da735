// The EnOcean test's report against the simulated module, byte for byte.
#include "Tests/EnOcean.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sandbox/Sandbox.hpp"
#include "support/Capture.hpp"
#include "uart/Module.hpp"
#include "uart/UartTest.hpp"

namespace bw_selftest::Tests {
namespace {

using bw_sim::uart::Answer;
using bw_sim::uart::Bytes;
using bw_sim::uart::Module;
using bw_sim::uart::Scenario;
namespace esp3 = bw_sim::uart::esp3;
using std::chrono::milliseconds;

const std::string kOpening = "Opening EnOcean gateway UART device: ";
const std::string kOpened = kOpening + "OK.\n";
const std::string kRequesting = "Requesting BaseID: ";
const std::string kBaseId = kRequesting + "OK.\nBaseID = 0xFF9A4300, 10 changes left\n\n";
const std::string kExchange =
    "Sending a packet: EnOcean: sending [RORG=0xA5, Destaddr=0xDEADBEEF, Data=0xDEADBEEF], "
    "sent. Response code: ";
const std::string kNoDevices =
    "EnOcean: Gateway::openGateway(): No gateway-devices found. Retrying in 5000 ms.\n";
const std::string kTimedOut =
    "EnOcean: Gateway::awaitResponsePacket: Timed out waiting for response from gateway.\n";

std::string retry(unsigned attempt) {
    return "\nRetry " + std::to_string(attempt) + " of 4 in 7s\n\n";
}

const esp3::Frame kIdBaseRequest{esp3::COMMON_COMMAND, {esp3::CO_RD_IDBASE}, {}};
const esp3::Frame kTestTelegram{esp3::RADIO_ERP1,
                                {0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0, 0},
                                {0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00}};

struct Outcome {
    bool passed = false;
    std::string out;
    std::string err;
    std::vector<unsigned> pauses;
};

// Runs the test with the pauses recorded instead of slept.
Outcome runTest() {
    Outcome outcome;
    const bw_test::Captured seen = bw_test::capture([&] {
        outcome.passed =
            EnOcean::runWith([&](unsigned seconds) { outcome.pauses.push_back(seconds); });
    });
    outcome.out = seen.out;
    outcome.err = seen.err;
    return outcome;
}

class EnOceanTest : public bw_sim::uart::UartTest {};

TEST_F(EnOceanTest, PassingModuleGivesTheFullReport) {
    inHub([] {
        Module module(Scenario{});
        const Outcome outcome = runTest();
        EXPECT_TRUE(outcome.passed);
        EXPECT_EQ(kOpened + kBaseId + kExchange + "0\nOK.\n", outcome.out);
        EXPECT_EQ("", outcome.err);
        EXPECT_TRUE(outcome.pauses.empty());
        const std::vector<esp3::Frame> expected{kIdBaseRequest, kTestTelegram};
        EXPECT_EQ(expected, module.received());
    });
}

TEST_F(EnOceanTest, AbsentModuleIsTriedFiveTimes) {
    inHub([] {
        const Outcome outcome = runTest();
        EXPECT_FALSE(outcome.passed);
        std::string expected = kOpening;
        for (unsigned attempt = 1; attempt <= 4; ++attempt) {
            expected += retry(attempt) + kOpening;
        }
        EXPECT_EQ(expected, outcome.out);
        std::string errors;
        for (int probe = 0; probe < 6; ++probe) {  // at construction, then once per attempt
            errors += kNoDevices;
        }
        EXPECT_EQ(errors, outcome.err);
        EXPECT_EQ(std::vector<unsigned>(4, 7), outcome.pauses);
    });
}

TEST_F(EnOceanTest, BaseIdAnswerWithOnlyAReturnCodeIsRetried) {
    inHub([] {
        Scenario scenario;
        Answer onlyCode;
        onlyCode.data = Bytes{0x00};
        onlyCode.optional = Bytes{};
        scenario.baseIdRequests.first = {onlyCode};
        Module module(scenario);
        const Outcome outcome = runTest();
        EXPECT_TRUE(outcome.passed);
        EXPECT_EQ(kOpened + kRequesting + retry(1) + kBaseId + kExchange + "0\nOK.\n", outcome.out);
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(std::vector<unsigned>{7}, outcome.pauses);
    });
}

TEST_F(EnOceanTest, SilenceAndWrongSizesFailTheBaseIdStep) {
    inHub([] {
        Scenario scenario;
        Answer silent;
        silent.silent = true;
        Answer noOptional;
        noOptional.optional = Bytes{};
        Answer shortId;
        shortId.data = Bytes{0x00, 0xFF, 0x9A, 0x43};
        Answer longId;
        longId.data = Bytes{0x00, 0xFF, 0x9A, 0x43, 0x00, 0x00};
        scenario.baseIdRequests.first = {silent, noOptional, shortId, longId};
        Module module(scenario);
        const Outcome outcome = runTest();
        EXPECT_TRUE(outcome.passed);
        EXPECT_EQ(kOpened + kRequesting + retry(1) + kRequesting + retry(2) + kRequesting +
                      retry(3) + kRequesting + retry(4) + kBaseId + kExchange + "0\nOK.\n",
                  outcome.out);
        EXPECT_EQ(kTimedOut, outcome.err);
    });
}

TEST_F(EnOceanTest, BaseIdStepFailsForGoodWhenTheModuleNeverAnswers) {
    inHub([] {
        Scenario scenario;
        scenario.baseIdRequests.then.silent = true;
        Module module(scenario);
        const Outcome outcome = runTest();
        EXPECT_FALSE(outcome.passed);
        std::string expected = kOpened + kRequesting;
        std::string errors = kTimedOut;
        for (unsigned attempt = 1; attempt <= 4; ++attempt) {
            expected += retry(attempt) + kRequesting;
            errors += kTimedOut;
        }
        EXPECT_EQ(expected, outcome.out);
        EXPECT_EQ(errors, outcome.err);
        EXPECT_EQ(std::vector<esp3::Frame>(5, kIdBaseRequest), module.received());
    });
}

TEST_F(EnOceanTest, RefusedTelegramIsRetriedWithoutRepeatingTheFirstSteps) {
    inHub([] {
        Scenario scenario;
        scenario.telegrams.then.returnCode = 2;
        Module module(scenario);
        const Outcome outcome = runTest();
        EXPECT_FALSE(outcome.passed);
        std::string expected = kOpened + kBaseId + kExchange + "2\n";
        for (unsigned attempt = 1; attempt <= 4; ++attempt) {
            expected += retry(attempt) + kExchange + "2\n";
        }
        EXPECT_EQ(expected, outcome.out);
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(std::vector<unsigned>(4, 7), outcome.pauses);
        std::vector<esp3::Frame> frames{kIdBaseRequest};
        frames.insert(frames.end(), 5, kTestTelegram);
        EXPECT_EQ(frames, module.received());
    });
}

TEST_F(EnOceanTest, NonZeroBaseIdReturnCodeStillPasses) {
    inHub([] {
        Scenario scenario;
        scenario.baseIdRequests.then.returnCode = 1;  // RET_ERROR, with the full 5 + 1 bytes
        Module module(scenario);
        const Outcome outcome = runTest();
        EXPECT_TRUE(outcome.passed);
        EXPECT_EQ(kOpened + kBaseId + kExchange + "0\nOK.\n", outcome.out);
    });
}

TEST_F(EnOceanTest, StaleResponseIsNotTakenForTheBaseId) {
    inHub([] {
        Scenario scenario;
        scenario.baseIdRequests.then.silent = true;
        Module module(scenario);
        std::unique_ptr<Gateway> gateway;
        bool passed = true;
        const bw_test::Captured seen = bw_test::capture([&] {
            gateway = std::make_unique<Gateway>();
            module.sendFrame(esp3::response(0, {0x01, 0x02, 0x03, 0x04}, {5}));
            ASSERT_TRUE(module.waitUntilSent(milliseconds(1000)));
            ::usleep(20000);
            passed = EnOcean::requestBaseIdStep(*gateway);
        });
        EXPECT_FALSE(passed);
        EXPECT_EQ(kRequesting, seen.out);
        EXPECT_EQ(kTimedOut, seen.err);
    });
}

TEST_F(EnOceanTest, ModuleAppearingLaterIsFoundByTheNextAttempt) {
    inHub([] {
        std::unique_ptr<Module> module;
        bool passed = false;
        std::vector<unsigned> pauses;
        const bw_test::Captured seen = bw_test::capture([&] {
            passed = EnOcean::runWith([&](unsigned seconds) {
                pauses.push_back(seconds);
                if (!module) {
                    module = std::make_unique<Module>(Scenario{});
                }
            });
        });
        EXPECT_TRUE(passed);
        EXPECT_EQ(kOpening + retry(1) + kOpened + kBaseId + kExchange + "0\nOK.\n", seen.out);
        EXPECT_EQ(kNoDevices + kNoDevices, seen.err);
    });
}

TEST_F(EnOceanTest, IsATestNamedByItsSuiteThatTouchesNothingBeforeRun) {
    inHub([] {
        std::unique_ptr<bw_selftest::Test> test;
        const bw_test::Captured seen =
            bw_test::capture([&] { test = std::make_unique<EnOcean>("EnOcean"); });
        EXPECT_EQ("EnOcean", test->name().toString());
        EXPECT_EQ("", seen.out);
        EXPECT_EQ("", seen.err);
    });
}

TEST(EnOceanTelegram, IsTheKnown4BSFrame) {
    const Bytes expected{0x55, 0x00, 0x0A, 0x07, 0x01, 0xEB, 0xA5, 0xDE, 0xAD, 0xBE, 0xEF, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x03, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0x00, 0x09};
    EXPECT_EQ(expected,
              Bytes(testTelegram.frame(), testTelegram.frame() + testTelegram.totalLength()));
}

// The one test that waits out a real pause between attempts.
TEST_F(EnOceanTest, RunSleepsSevenSecondsBetweenAttempts) {
    inHub(
        [] {
            Scenario scenario;
            Answer silent;
            silent.silent = true;
            scenario.baseIdRequests.first = {silent};
            Module module(scenario);
            EnOcean test("EnOcean");
            bool passed = false;
            const auto start = std::chrono::steady_clock::now();
            const bw_test::Captured seen = bw_test::capture([&] { passed = test.run(); });
            const auto took =
                std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
            EXPECT_TRUE(passed);
            EXPECT_EQ(kOpened + kRequesting + retry(1) + kBaseId + kExchange + "0\nOK.\n",
                      seen.out);
            EXPECT_GE(took.count(), 7000);
            EXPECT_LT(took.count(), 12000);
        },
        milliseconds(30000));
}

}  // namespace
}  // namespace bw_selftest::Tests
