#include "Tests/Test.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace bw_selftest {
namespace {

class Recorded : public Test {
  public:
    Recorded(bool verdict, bool& destroyed)
        : Test("Recorded"), verdict_(verdict), destroyed_(destroyed) {}
    ~Recorded() override { destroyed_ = true; }
    bool run() override { return verdict_; }

  private:
    bool verdict_;
    bool& destroyed_;
};

TEST(TestInterface, RunsAndIsDestroyedThroughTheBase) {
    bool destroyed = false;
    std::unique_ptr<bw_selftest::Test> test = std::make_unique<Recorded>(false, destroyed);
    EXPECT_EQ("Recorded", test->name().toString());
    EXPECT_FALSE(test->run());
    test.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(std::make_unique<Recorded>(true, destroyed)->run());
}

TEST(TestInterface, RunTakesTheFirstVirtualSlot) {
#if defined(__x86_64__) || defined(__i386__)
    // A pointer to a virtual member holds 1 + the byte offset of its slot on these ABIs.
    bool (bw_selftest::Test::*const run)() = &bw_selftest::Test::run;
    std::uintptr_t slot = 0;
    std::memcpy(&slot, &run, sizeof slot);
    EXPECT_EQ(1U, slot);
#else
    GTEST_SKIP() << "member pointers are laid out differently here";
#endif
}

}  // namespace
}  // namespace bw_selftest
