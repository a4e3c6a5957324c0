#include "platform/qt/instance_guard.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace vendilox::platform::qt {
namespace {

using TState = ISingleInstanceGuard::TState;

TEST(SingleInstanceGuardTest, NameIsHeldUntilReleased) {
    // A name of this test run only, so that a running program is not disturbed.
    const std::string name = "vendilox_ecr_test_" + std::to_string(::getpid());
    SingleInstanceGuard first;
    SingleInstanceGuard second;
    EXPECT_EQ(first.Create(name), TState::Owned);
    EXPECT_EQ(second.Create(name), TState::AlreadyExists);

    first.Release();
    first.Release();  // harmless when nothing is held
    EXPECT_EQ(second.Create(name), TState::Owned);
    EXPECT_EQ(first.Create(name), TState::AlreadyExists);
}

TEST(SingleInstanceGuardTest, NameThatCannotBeBoundIsUnavailable) {
    SingleInstanceGuard guard;
    EXPECT_EQ(guard.Create(""), TState::Unavailable);
    EXPECT_EQ(guard.Create(std::string(200, 'n')), TState::Unavailable);
}

}  // namespace
}  // namespace vendilox::platform::qt
