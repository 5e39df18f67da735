// Run control around the tests: the model table, and the final wait.
#include "setup/Setup.hpp"

#include <unistd.h>

#include <iostream>

namespace bw_selftest {

namespace {

struct ModelId {
    CStringLiteralView id;
    Model model;
};

constexpr ModelId kModelIds[] = {
    {"prism-1v1-eu", Model::prism_1v1_eu},
    {"prism-1v0-eu", Model::prism_1v0_eu},
    {"prism-1v0-1-eu", Model::prism_1v0_1_eu},
    {"crate-1v0-b-eu", Model::crate_1v0_b_eu},
    {"prism-1v1-eu-proto-1", Model::prism_1v1_eu_proto_1},
    {"prism-1v1-eu-proto-2", Model::prism_1v1_eu_proto_2},
};

}  // namespace

Model parseModel(TemporaryStringView id) {
    for (const ModelId& entry : kModelIds) {
        if (id == entry.id) {
            return entry.model;
        }
    }
    return Model::unsupported;
}

void printModelLine(TemporaryStringView id) {
    std::cout << "corenode.model = \"" << id << "\"" << std::endl;
}

bool checkModelSupported(Model model) {
    if (model != Model::unsupported) {
        return true;
    }
    std::cout << "Model not supported. Awaiting termination... " << std::endl;
    return false;
}

void awaitTermination() {
    // No handler is installed, so pause() only ends with the process itself.
    for (;;) {
        ::pause();
    }
}

}  // namespace bw_selftest
