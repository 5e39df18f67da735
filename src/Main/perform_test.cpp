// The first-boot run: prepare, run the model's suite with a framed report, provision.
#include "Main/perform_test.hpp"

#include <iostream>

#include "Main/progress.hpp"
#include "setup/FactoryTool.hpp"
#include "setup/Setup.hpp"
#include "setup/tests.hpp"
#include "util/StringUtil.hpp"

namespace bw_selftest {

const std::string separator(80, '=');

namespace {

constexpr std::size_t kBannerWidth = 80;

// Every test runs, failed or not; the count decides what follows.
unsigned runSuite(LEDs& leds, const Suite& suite) {
    unsigned failures = 0;
    for (const std::unique_ptr<Test>& test : suite) {
        (void)showProgress(leds, failures);  // LEDs are a courtesy: the report is what counts
        std::cout << "\n\n" << center(test->name(), '=', kBannerWidth) << std::endl;
        const bool passed = test->run();
        if (!passed) {
            ++failures;
        }
        // The verdict starts a line even after a test whose output does not end with one.
        std::cout << (passed ? "\nPASS" : "\nFAIL") << std::endl;
        std::cout << separator << "\n\n" << std::endl;
    }
    return failures;
}

void printSummary(unsigned failures) {
    if (failures == 0) {
        std::cout << "All tests passed." << std::endl;
        return;
    }
    std::cout << failures << " test" << (failures == 1 ? "" : "s") << " failed." << std::endl;
}

// True when the tests and every provisioning step passed.
bool runAll(LEDs& leds, Model model, Suite (*makeSuite)(Model)) {
    if (!runPreHook() || !stopServices()) {
        return false;
    }
    unsigned failures = 0;
    {
        Suite suite = makeSuite(model);
        failures = runSuite(leds, suite);
        printSummary(failures);
        // In suite order; whatever the tests held is gone before provisioning starts.
        for (std::unique_ptr<Test>& test : suite) {
            test.reset();
        }
    }
    return failures == 0 && runFactoryTool() && runPostHook() && prepareNormalBoot();
}

}  // namespace

void performTest(LEDs& leds, Model model) {
    performTestWith(leds, model, makeTests);
}

void performTestWith(LEDs& leds, Model model, Suite (*makeSuite)(Model)) {
    try {
        if (!runAll(leds, model, makeSuite)) {
            (void)showResult(leds, false);
            return;
        }
        (void)showResult(leds, true);
        // After a poweroff the system ends the program; until then it waits like any other run.
        (void)powerOffForModel(model);
    } catch (...) {
        // The entry's guard reports the error and the program waits; the LEDs must not say
        // "testing" all that time. The marker is left, as after any failure.
        (void)showResult(leds, false);
        throw;
    }
}

}  // namespace bw_selftest
