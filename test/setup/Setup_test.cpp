#include "setup/Setup.hpp"

#include <gtest/gtest.h>

namespace bw_selftest {
namespace {

TEST(ParseModel, EveryKnownIdMapsToItsModel) {
    EXPECT_EQ(Model::prism_1v1_eu, parseModel(std::string("prism-1v1-eu")));
    EXPECT_EQ(Model::prism_1v0_eu, parseModel(std::string("prism-1v0-eu")));
    EXPECT_EQ(Model::prism_1v0_1_eu, parseModel(std::string("prism-1v0-1-eu")));
    EXPECT_EQ(Model::crate_1v0_b_eu, parseModel(std::string("crate-1v0-b-eu")));
    EXPECT_EQ(Model::prism_1v1_eu_proto_1, parseModel(std::string("prism-1v1-eu-proto-1")));
    EXPECT_EQ(Model::prism_1v1_eu_proto_2, parseModel(std::string("prism-1v1-eu-proto-2")));
}

TEST(ParseModel, MatchesExactlyWithCaseAndLength) {
    const char* unsupported[] = {"",
                                 "prism-tmp-v1-eu",
                                 "Prism-1v1-eu",
                                 " prism-1v1-eu",
                                 "prism-1v1-eu ",
                                 "prism-1v1-eu\r",
                                 "prism-1v1",
                                 "prism-1v1-eu-proto-3",
                                 "prism-1v1-eu-proto-"};
    for (const char* id : unsupported) {
        EXPECT_EQ(Model::unsupported, parseModel(std::string(id))) << '"' << id << '"';
    }
}

TEST(ParseModel, ComparesOnlyTheViewedBytes) {
    const char text[] = "prism-1v1-eu-proto-1";
    EXPECT_EQ(Model::prism_1v1_eu, parseModel(TemporaryStringView(text, 12)));
    EXPECT_EQ(Model::prism_1v1_eu_proto_1, parseModel(TemporaryStringView(text, 20)));
}

}  // namespace
}  // namespace bw_selftest
