// The abstract hardware test: a display name and a run that says whether it passed.
#pragma once

#include "lib/util/StringView.hpp"

namespace bw_selftest {

class Test {
  public:
    explicit Test(CStringLiteralView name) : name_(name) {}
    Test(const Test&) = delete;
    Test& operator=(const Test&) = delete;
    virtual ~Test() = default;

    // Narrates on standard output and reports every failure through its result; never
    // throws. Called exactly once per object.
    [[nodiscard]] virtual bool run() = 0;

    CStringLiteralView name() const { return name_; }

  private:
    CStringLiteralView name_;
};

}  // namespace bw_selftest
