// Factory provisioning: the hub's identity files, the maker's factory tool and the erasure
// of the registration key.
#pragma once

namespace bw_selftest {

// Creates the identity files, runs the factory tool unless the hub already holds its cloud
// certificate, erases the registration key and hands the files back to root. Stops at the
// first failing command; true when every step succeeded.
[[nodiscard]] bool runFactoryTool();

}  // namespace bw_selftest
