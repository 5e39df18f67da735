// The texts the hub and its fakes exchange, and the pure helpers that read the hub's state.
#include <gtest/gtest.h>

#include "fakes/CommandLog.hpp"
#include "fakes/FakeRules.hpp"
#include "fakes/Fields.hpp"
#include "hub/Leds.hpp"
#include "hub/Snapshot.hpp"
#include "hub/SysfsText.hpp"

namespace {

using bw_sim::Outcome;
using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Fields, AnyBytesSurviveARecord) {
    const std::vector<std::string> fields = {"a\tb", "line\nbreak", "back\\slash\\", "", "\\n"};
    const auto records = bw_sim::parseRecords(bw_sim::makeRecord(fields) + "x\ty\n");
    ASSERT_EQ(2U, records.size());
    EXPECT_EQ(fields, records[0]);
    EXPECT_EQ((std::vector<std::string>{"x", "y"}), records[1]);
}

TEST(Fields, ATornLastRecordIsDropped) {
    EXPECT_EQ(1U, bw_sim::parseRecords("a\tb\nc\td").size());
}

TEST(FakeRules, RoundTripKeepsEveryPartOfAnOutcome) {
    bw_sim::FakeRules rules;
    rules.set(
        "svc", "",
        Outcome::failsTimes(2, 5).prints("out\n").printsError("e\tr").takes(milliseconds(30)));
    rules.set("rm", "rm -fv /x", Outcome::killedBy(9).withoutEffect());
    const bw_sim::FakeRules parsed = bw_sim::FakeRules::parse(rules.serialize());
    ASSERT_EQ(2U, parsed.rules().size());
    const Outcome& svc = parsed.rules()[0].outcome;
    EXPECT_EQ((std::vector<int>{5, 5, 0}), svc.perRun());
    EXPECT_EQ("out\n", svc.out());
    EXPECT_EQ("e\tr", svc.err());
    EXPECT_EQ(milliseconds(30), svc.duration());
    EXPECT_TRUE(svc.hasEffect());
    EXPECT_EQ("rm -fv /x", parsed.rules()[1].commandLine);
    EXPECT_EQ(-9, parsed.rules()[1].outcome.statusOfRun(0));
    EXPECT_FALSE(parsed.rules()[1].outcome.hasEffect());
}

TEST(FakeRules, TheExactCommandLineWinsOverTheProgram) {
    bw_sim::FakeRules rules;
    rules.set("bw-drop", "", Outcome::fails(2));
    rules.set("bw-drop", "bw-drop bw-selftest factory-tool", Outcome::fails(3));
    rules.set("bw-drop", "", Outcome::fails(4));  // replaces the first
    EXPECT_EQ(2U, rules.rules().size());
    EXPECT_EQ(3, rules.find("bw-drop", "bw-drop bw-selftest factory-tool")->outcome.statusOfRun(0));
    EXPECT_EQ(4,
              rules.find("bw-drop", "bw-drop zigbee-svc zigbee-selftest")->outcome.statusOfRun(0));
    EXPECT_EQ(nullptr, rules.find("svc", "svc -d x"));
    EXPECT_EQ("svc", bw_sim::programOf("/usr/bin/svc -d /etc/service/mainbus"));
    EXPECT_EQ("sync", bw_sim::programOf("sync"));
}

TEST(FakeRules, TheLastStatusRepeats) {
    const Outcome outcome = Outcome::statuses({1, 0, 2});
    EXPECT_EQ(1, outcome.statusOfRun(0));
    EXPECT_EQ(0, outcome.statusOfRun(1));
    EXPECT_EQ(2, outcome.statusOfRun(2));
    EXPECT_EQ(2, outcome.statusOfRun(9));
    EXPECT_EQ(0, Outcome::statuses({}).statusOfRun(3));
}

TEST(CommandLog, EndsAreMatchedToTheLatestOpenStartOfTheirPid) {
    namespace log = bw_sim::command_log;
    const std::string text = log::startEntry(10, microseconds(1), "svc", "svc -d a") +
                             log::endEntry(10, microseconds(2), 0) +
                             log::startEntry(11, microseconds(3), "rm", "rm x") +
                             log::startEntry(10, microseconds(4), "sync", "sync") +
                             log::endEntry(10, microseconds(5), -9) + "end\t11\t6";
    const auto records = log::parse(text);
    ASSERT_EQ(3U, records.size());
    EXPECT_TRUE(records[0].finished);
    EXPECT_EQ(0, records[0].status);
    EXPECT_FALSE(records[1].finished);  // its end was torn
    EXPECT_EQ("rm x", records[1].line);
    EXPECT_TRUE(records[2].finished);
    EXPECT_EQ(-9, records[2].status);
    EXPECT_EQ(microseconds(5), records[2].ended);
}

TEST(SysfsText, KernelNumbersAndWords) {
    long value = -1;
    EXPECT_TRUE(bw_sim::parseKernelLong("11", value));
    EXPECT_EQ(11, value);
    EXPECT_TRUE(bw_sim::parseKernelLong("0x1f\n", value));
    EXPECT_EQ(31, value);
    EXPECT_TRUE(bw_sim::parseKernelLong("-010", value));
    EXPECT_EQ(-8, value);
    for (const char* wrong : {"", "\n", " 1", "1 ", "1\n\n", "0x", "one", "+"}) {
        EXPECT_FALSE(bw_sim::parseKernelLong(wrong, value)) << '"' << wrong << '"';
    }
    EXPECT_FALSE(bw_sim::parseKernelLong(std::string("1\0", 2), value));
    EXPECT_TRUE(bw_sim::sysfsEquals("out\n", "out"));
    EXPECT_FALSE(bw_sim::sysfsEquals("out \n", "out"));
}

bw_sim::GpioWrite write(int ms, const char* file, const char* data, int error = 0) {
    return {microseconds(ms * 1000), file, data, error};
}

TEST(Leds, HistoryReplaysTheWritesThatChangedAnLed) {
    const std::vector<bw_sim::GpioWrite> timeline = {write(1, "export", "11"),
                                                     write(2, "gpio11/direction", "out"),
                                                     write(3, "export", "12"),
                                                     write(4, "gpio12/direction", "high"),
                                                     write(5, "export", "13"),
                                                     write(6, "gpio13/direction", "out", 13),
                                                     write(7, "gpio13/direction", "out"),
                                                     write(8, "gpio11/value", "0"),
                                                     write(9, "gpio13/value", "1"),
                                                     write(10, "export", "4"),
                                                     write(11, "gpio12/value", "1"),
                                                     write(12, "gpio11/value", "1", 5)};
    const auto history = bw_sim::ledHistory(timeline);
    ASSERT_EQ(4U, history.size());
    EXPECT_EQ("off - -", history[0].state.text());
    EXPECT_EQ("off on -", history[1].state.text());
    EXPECT_EQ(microseconds(7000), history[2].at);
    EXPECT_EQ(bw_sim::lit(false, true, false), history[2].state);
    EXPECT_EQ(bw_sim::lit(false, true, true), history[3].state);
    EXPECT_EQ(microseconds(9000), history[3].at);
}

TEST(Leds, HistoryStartsFromLinesExportedBefore) {
    const auto history =
        bw_sim::ledHistory({write(1, "gpio12/value", "1")}, bw_sim::lit(true, false, false));
    ASSERT_EQ(1U, history.size());
    EXPECT_EQ("on on off", history[0].state.text());
}

TEST(Snapshots, ChangesAreNamedPerPath) {
    bw_sim::FileSnapshot before;
    before["/a"] = {'f', 0644, 0, 0, "one"};
    before["/b"] = {'f', 0644, 0, 0, "same"};
    before["/c"] = {'d', 0755, 0, 0, ""};
    before["/d"] = {'f', 0644, 0, 0, "x"};
    bw_sim::FileSnapshot after = before;
    after["/a"].content = "two";
    after["/b"].uid = 990;
    after["/b"].gid = 990;
    after.erase("/c");
    after["/d"] = {'l', 0777, 0, 0, "../null"};
    after["/e"] = {'f', 0600, 0, 0, ""};
    const auto changes = bw_sim::compareSnapshots(before, after);
    ASSERT_EQ(5U, changes.size());
    EXPECT_EQ("content changed", changes[0].what);
    EXPECT_EQ("owner 0:0 -> 990:990", changes[1].what);
    EXPECT_EQ("removed (was a directory)", changes[2].what);
    EXPECT_EQ("now a link to ../null (was a file)", changes[3].what);
    EXPECT_EQ("/e", changes[4].path);
    EXPECT_EQ("created (file)", changes[4].what);
}

}  // namespace
