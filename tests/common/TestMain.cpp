// COM for the whole test program: the multithreaded apartment, as in the server.
#include <gtest/gtest.h>

#include "com/ComInit.h"

namespace {

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { com_ = new com::ComInitializer(COINIT_MULTITHREADED); }
    void TearDown() override { delete com_; }

private:
    com::ComInitializer* com_ = nullptr;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace
