#pragma once

#include <string>

namespace orvelconsumer {

// The scenario behind --demo, shown by --print-demo-scenario: one answer of each kind the
// tester can apply, so a first session shows every part of the window at work.
class DemoScenario {
public:
    static const std::string& Text();
};

} // namespace orvelconsumer
