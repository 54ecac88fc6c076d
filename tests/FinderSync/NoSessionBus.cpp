// Linked into the test executables whose badge writes must post to no session bus: badge writes
// announce themselves there, and these tests observe none.

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace corvane {
namespace {

class NoBusEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("XDG_RUNTIME_DIR");  // or its "bus" would be the session bus
    }
};

[[maybe_unused]] testing::Environment* const kNoBus =
    testing::AddGlobalTestEnvironment(std::make_unique<NoBusEnvironment>().release());

}  // namespace
}  // namespace corvane
