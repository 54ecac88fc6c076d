#pragma once

#include <filesystem>

#include <gtest/gtest.h>

#include "Platform/Paths.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane::test {

// A temporary home for a settings test; the shared suites are let go afterwards, so that the
// next test gets instances on its own home's files.
class UserDefaultsFixture : public ::testing::Test {
protected:
    void TearDown() override { UserDefaults::resetShared(); }

    // A suite file of the test's own, outside the shared instances.
    std::filesystem::path suiteFile() const { return Paths::config() / "test.suite.json"; }

    TempHome m_home;
};

}  // namespace corvane::test
