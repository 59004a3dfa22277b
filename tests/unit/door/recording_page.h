#pragma once

// A page that writes down what a family said to it, in order.

#include "bridge/family.h"

#include <string>
#include <vector>

namespace tillbay::test {

class RecordingPage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        said.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { said.push_back("status:" + std::string(message)); }

    std::vector<std::string> said;
};

} // namespace tillbay::test
