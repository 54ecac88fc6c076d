#include "API/URLEncoding.h"

#include <string>

#include <gtest/gtest.h>

#include "API/APIClient.h"
#include "API/APIError.h"

namespace corvane {
namespace {

struct EncodingCase {
    std::string input;
    std::string query;
    std::string path;
};

TEST(URLEncodingTest, QueryAndPathSets)
{
    const EncodingCase cases[] = {
        {"", "", ""},
        {"abcXYZ019-._~", "abcXYZ019-._~", "abcXYZ019-._~"},
        {"a b", "a%20b", "a%20b"},
        {"a&b=c+d", "a&b=c+d", "a&b=c+d"},
        {"!$'()*,", "!$'()*,", "!$'()*,"},
        {"x;y", "x;y", "x%3By"},
        {"p/q", "p/q", "p/q"},
        {"what?", "what?", "what%3F"},
        {":@", ":@", ":@"},
        {"#frag", "%23frag", "%23frag"},
        {"100%", "100%25", "100%25"},
        {"\"<>\\^`{|}[]", "%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D", "%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D"},
        {"é", "%C3%A9", "%C3%A9"},
        {"😀", "%F0%9F%98%80", "%F0%9F%98%80"},
        {std::string("\0\n\x7f", 3), "%00%0A%7F", "%00%0A%7F"},
        {"../x", "../x", "../x"},
    };
    for (const EncodingCase& c : cases) {
        EXPECT_EQ(percentEncodeQuery(c.input), c.query) << c.input;
        EXPECT_EQ(percentEncodePath(c.input), c.path) << c.input;
    }
}

TEST(URLEncodingTest, RequestURLValidity)
{
    const std::pair<std::string, bool> cases[] = {
        {"http://127.0.0.1:8080/api/folders", true},
        {"https://sync.example.com/api/folders?parent_id=a&b=c", true},
        {"http://localhost:8080/api/sync/events?since=1&folder_ids=a,b", true},
        {"http://h/api/x%20y", true},
        {"http://[::1]:8080/api", true},
        {"/api/folders", false},
        {"", false},
        {"not a url/api/folders", false},
        {"http:///api/folders", false},
        {"http://h/api/a b", false},
        {"http://h/api/%zz", false},
        {"http://h/api/%4", false},
        {"http://h/api/{id}", false},
        {"http://h/api/é", false},
        {"http://h/api/a|b", false},
        {"http://h/api/\n", false},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(isValidRequestURL(text), valid) << text;
    }
}

TEST(APIClientUnitTest, OneTrailingSlashIsDropped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"http://h:8080/", "http://h:8080"},
        {"http://h:8080//", "http://h:8080/"},
        {"http://h:8080", "http://h:8080"},
        {" http://h:8080/ ", " http://h:8080/ "},
        {"/", ""},
        {"", ""},
    };
    for (const auto& [given, kept] : cases) {
        EXPECT_EQ(APIClient(given).baseURL(), kept) << given;
    }
}

TEST(APIClientUnitTest, TokenStartsAbsentAndEmptyIsPresent)
{
    APIClient client("http://127.0.0.1:1");
    EXPECT_EQ(client.token(), std::nullopt);
    client.setToken("");
    EXPECT_EQ(client.token(), std::optional<std::string>(""));
    client.setToken(std::nullopt);
    EXPECT_EQ(client.token(), std::nullopt);
}

TEST(APIClientUnitTest, InvalidAddressFailsEveryOperationBeforeSending)
{
    for (const std::string base : {"", "not a url", "http:", "localhost:8080"}) {
        APIClient client(base);
        const auto expectInvalid = [&](const auto& operation) {
            try {
                operation();
                ADD_FAILURE() << "no error for " << base;
            } catch (const APIError& error) {
                EXPECT_EQ(error.kind(), APIError::Kind::invalidURL) << base;
                EXPECT_EQ(error.localizedDescription(), "Invalid URL");
            } catch (const std::exception& error) {
                ADD_FAILURE() << base << ": " << error.what();
            }
        };
        expectInvalid([&] { client.sendCode("a@b"); });
        expectInvalid([&] { client.verify("a@b", "123456"); });
        expectInvalid([&] { client.listFolders(); });
        expectInvalid([&] { client.createFolder("n"); });
        expectInvalid([&] { client.getFolderTree("f"); });
        expectInvalid([&] { client.listFiles("f"); });
        expectInvalid([&] { client.uploadInit({"/a", "f", "h", 1, 0}); });
        expectInvalid([&] { client.listEvents(std::nullopt, {}); });
        expectInvalid([&] { client.deleteFile("/a", "f"); });
        expectInvalid([&] { client.uploadChunk("u", "data"); });
        expectInvalid([&] { client.uploadChunkFromFile("u", "/nonexistent"); });
        expectInvalid([&] { client.download("h"); });
        expectInvalid([&] { client.downloadToFile("h", "/nonexistent/dir/file"); });
    }
}

TEST(APIErrorTest, Descriptions)
{
    EXPECT_EQ(APIError::serverError("Folder not found").localizedDescription(), "Folder not found");
    EXPECT_EQ(APIError::serverError("").localizedDescription(), "");
    EXPECT_EQ(APIError::requestFailed().localizedDescription(), "Request failed");
    EXPECT_EQ(APIError::unauthorized().localizedDescription(),
              "Session expired, please log in again");
    EXPECT_EQ(APIError::invalidURL().localizedDescription(), "Invalid URL");
}

}  // namespace
}  // namespace corvane
