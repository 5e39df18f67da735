// The hardware tests each model's run reports, in report order.
#pragma once

#include <string>
#include <vector>

namespace bw_record {

// Empty for an id the program does not support.
const std::vector<std::string>& suiteOf(const std::string& modelId);
// The model whose passed run ends by powering the hub off.
bool powersOff(const std::string& modelId);
// "\n\n", the banner of a suite's test, "\n": how the log opens that test. The banner is
// its name centred in 80 "=", or the bare name when too long. Made once per name, since
// every reading looks for each test's banner more than once.
const std::string& bannerLine(const std::string& name);

}  // namespace bw_record
