// The abstract hardware test: a display name and a run that says whether it passed.
#pragma once

#include "lib/util/StringView.hpp"

namespace bw_selftest {

class Test {
  public:
    explicit Test(CStringLiteralView name) : name_(name) {}
    Test(const Test&) = delete;
    Test& operator=(const Test&) = delete;

    // Narrates on standard output and reports every failure through its result; never
    // throws. Called exactly once per object.
    [[nodiscard]] virtual bool run() = 0;
    // Declared after run, so that run takes the first slot of every test's virtual table.
    virtual ~Test() = default;

    CStringLiteralView name() const { return name_; }

  private:
    CStringLiteralView name_;
};

}  // namespace bw_selftest
