// Linked into the 32-bit test programs when they run under an emulator.
// A "threadsafe" death test starts the program again from its own argv[0]; on a
// machine that runs no i386 code that start fails, so the emulator goes first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class DeathTestsUnderEmulator : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::vector<std::string> args = ::testing::internal::GetArgvs();
        args.insert(args.begin(), KORVAL_TEST_EMULATOR);
        ::testing::internal::SetInjectableArgvs(args);
    }
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new DeathTestsUnderEmulator);

} // namespace
