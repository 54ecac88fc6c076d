#include "API/HealthCheck.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "API/TransportError.h"
#include "support/ClosedPort.h"
#include "support/ServerProcess.h"

namespace corvane {
namespace {

TEST(HealthURLTest, OnlyWebAddressesWithAHost)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"https://sync.example.com", "https://sync.example.com/health"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080/health"},
        {"https://sync.example.com/", "https://sync.example.com//health"},
        {"https://sync.example.com/corvane", "https://sync.example.com/corvane/health"},
        {"http://[::1]:8080", "http://[::1]:8080/health"},
        // What a blank or empty field becomes, and what "https://" alone becomes.
        {"https:/", std::nullopt},
        {"https://", std::nullopt},
        {"", std::nullopt},
        {"https://:8080", std::nullopt},
        {"https://sync example.com", std::nullopt},
        {"https://sync.example.com\n", std::nullopt},
        {"ftp://sync.example.com", std::nullopt},
        {"HTTPS://sync.example.com", std::nullopt},
        {"sync.example.com", std::nullopt},
        {"https://sync.example.com/%zz", std::nullopt},
    };
    for (const auto& [address, url] : cases) {
        EXPECT_EQ(healthURL(address), url) << address;
    }
}

class HealthStatusTest : public testing::Test {
protected:
    std::string url() const { return *healthURL(server.baseURL()); }

    test::ServerProcess server;
};

TEST_F(HealthStatusTest, AHealthyServerAnswers200ToAPlainGet)
{
    EXPECT_EQ(healthStatus(url()), 200);
    const nlohmann::json request = server.lastRequest();
    EXPECT_EQ(request.at("method"), "GET");
    EXPECT_EQ(request.at("target"), "/health");
    EXPECT_FALSE(request.at("headers").contains("authorization"));
    EXPECT_EQ(request.at("number"), 1);
}

TEST_F(HealthStatusTest, OtherStatusesAreReturnedAsTheyCame)
{
    for (const int status : {204, 301, 401, 404, 503}) {
        server.injectFault({{"path_prefix", "/health"}, {"status", status}});
        EXPECT_EQ(healthStatus(url()), status);
    }
}

TEST(HealthStatusFailureTest, ARefusedConnectionThrowsTheTransportError)
{
    const test::ClosedPort closed;
    try {
        healthStatus(*healthURL(closed.baseURL()));
        FAIL() << "no error";
    } catch (const TransportError& error) {
        EXPECT_NE(error.code(), 0);
        EXPECT_NE(std::string(error.what()), "");
    }
}

}  // namespace
}  // namespace corvane
