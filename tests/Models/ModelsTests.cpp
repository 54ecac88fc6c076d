#include "Models/Models.h"

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Models/DecodingError.h"
#include "Models/EncodingError.h"

namespace corvane {
namespace {

using Kind = DecodingError::Kind;

// Decodes the text as T and writes it back, so one table covers reading and writing.
template <typename T>
std::string decodeAndEncode(const std::string& text)
{
    return encode(decode<T>(text));
}

struct DecodingCase {
    std::string name;
    std::function<std::string(const std::string&)> decodeAndEncode;
    std::string input;
    // On success: the JSON written back (compared as JSON, member order is free).
    std::optional<std::string> written;
    // On failure: the error's kind and description.
    std::optional<Kind> kind;
    std::string description;
};

std::ostream& operator<<(std::ostream& out, const DecodingCase& c)
{
    return out << c.name;
}

DecodingCase ok(std::string name, std::function<std::string(const std::string&)> decoder,
                std::string input, std::string written)
{
    return {std::move(name), std::move(decoder), std::move(input), std::move(written), {}, {}};
}

DecodingCase fails(std::string name, std::function<std::string(const std::string&)> decoder,
                   std::string input, Kind kind, std::string description)
{
    return {std::move(name),       std::move(decoder), std::move(input), {}, kind,
            std::move(description)};
}

const std::string kFolder =
    R"({"id":"f1","name":"Docs","path":"/Docs","owner_id":"u1","created_at":"c","updated_at":"u")";
const std::string kFile = R"({"id":"1","name":"a.txt","path":"/a.txt","hash":"h","size":3,)"
                          R"("version":1,"owner_id":"u","folder_id":"f","created_at":"c",)"
                          R"("updated_at":"u"})";
const std::string kFileWithStringSize =
    R"({"id":"1","name":"a.txt","path":"/a.txt","hash":"h","size":"3","version":1,)"
    R"("owner_id":"u","folder_id":"f","created_at":"c","updated_at":"u"})";
const std::string kFileWithoutHash =
    R"({"id":"1","name":"a.txt","path":"/a.txt","size":3,"version":1,)"
    R"("owner_id":"u","folder_id":"f","created_at":"c","updated_at":"u"})";

std::string fileWithSize(const std::string& size)
{
    return R"({"id":"1","name":"a","path":"/a","hash":"h","size":)" + size +
           R"(,"version":1,"owner_id":"u","folder_id":"f","created_at":"c","updated_at":"u"})";
}

const DecodingCase kCases[] = {
    // Optional fields: missing and null are both absent, and absent is never written.
    ok("FolderWithoutParent", decodeAndEncode<Folder>, kFolder + "}", kFolder + "}"),
    ok("FolderWithNullParent", decodeAndEncode<Folder>, kFolder + R"(,"parent_id":null})",
       kFolder + "}"),
    ok("FolderWithParent", decodeAndEncode<Folder>, kFolder + R"(,"parent_id":"p"})",
       kFolder + R"(,"parent_id":"p"})"),
    fails("FolderWithNumericParent", decodeAndEncode<Folder>, kFolder + R"(,"parent_id":5})",
          Kind::typeMismatch, "type mismatch: expected string at parent_id"),
    ok("UnknownKeysIgnored", decodeAndEncode<Folder>, kFolder + R"(,"colour":[1,{"x":null}]})",
       kFolder + "}"),
    fails("CamelCaseKeyIsNotTheWireKey", decodeAndEncode<Folder>,
          R"({"id":"f1","name":"Docs","path":"/Docs","ownerId":"u1","created_at":"c",)"
          R"("updated_at":"u"})",
          Kind::keyNotFound, R"(key not found: "owner_id")"),
    fails("IdSentAsNumber", decodeAndEncode<Folder>,
          R"({"id":7,"name":"Docs","path":"/Docs","owner_id":"u1","created_at":"c",)"
          R"("updated_at":"u"})",
          Kind::typeMismatch, "type mismatch: expected string at id"),
    fails("RequiredNull", decodeAndEncode<User>, R"({"id":"u","email":"e","name":null})",
          Kind::valueNotFound, R"(value not found: "name")"),
    ok("EmptyTimestampKept", decodeAndEncode<Folder>,
       R"({"id":"f","name":"n","path":"/n","owner_id":"o","created_at":"","updated_at":"x y"})",
       R"({"id":"f","name":"n","path":"/n","owner_id":"o","created_at":"","updated_at":"x y"})"),

    // Integers.
    fails("SizeAsString", decodeAndEncode<FileInfo>, kFileWithStringSize, Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at size"),
    fails("VersionMissing", decodeAndEncode<FileInfo>,
          R"({"id":"1","name":"a","path":"/a","hash":"h","size":3,"owner_id":"u",)"
          R"("folder_id":"f","created_at":"c","updated_at":"u"})",
          Kind::keyNotFound, R"(key not found: "version")"),
    ok("SizeAtInt64Max", decodeAndEncode<FileInfo>, fileWithSize("9223372036854775807"),
       fileWithSize("9223372036854775807")),
    ok("SizeAtInt64Min", decodeAndEncode<FileInfo>, fileWithSize("-9223372036854775808"),
       fileWithSize("-9223372036854775808")),
    fails("SizeAboveInt64", decodeAndEncode<FileInfo>, fileWithSize("9223372036854775808"),
          Kind::typeMismatch, "type mismatch: expected 64-bit integer at size"),
    fails("SizeFarAboveInt64", decodeAndEncode<FileInfo>, fileWithSize("1e30"), Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at size"),
    fails("SizeWithFraction", decodeAndEncode<FileInfo>, fileWithSize("2.5"), Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at size"),
    ok("SizeIntegralWithFraction", decodeAndEncode<FileInfo>, fileWithSize("2.0"),
       fileWithSize("2")),
    ok("SizeWithExponent", decodeAndEncode<FileInfo>, fileWithSize("1e3"), fileWithSize("1000")),
    fails("SizeAsBoolean", decodeAndEncode<FileInfo>, fileWithSize("true"), Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at size"),

    // Nesting: a failure deep inside fails the whole and names the path.
    fails("TreeWithBadFile", decodeAndEncode<FolderTree>,
          R"({"id":"t","name":"n","path":"/n","files":[)" + kFile + "," + kFileWithStringSize +
              "]}",
          Kind::typeMismatch, "type mismatch: expected 64-bit integer at files[1].size"),
    fails("TreeWithBadGrandchildFile", decodeAndEncode<FolderTree>,
          R"({"id":"t","name":"n","path":"/n","children":[{"id":"c","name":"c","path":"/n/c",)"
          R"("files":[)" +
              kFile + "," + kFileWithoutHash + "]}]}",
          Kind::keyNotFound, R"(key not found: "hash" at children[0].files[1])"),
    ok("TreeWithEmptyChildren", decodeAndEncode<FolderTree>,
       R"({"id":"t","name":"n","path":"/n","children":[]})",
       R"({"id":"t","name":"n","path":"/n","children":[]})"),
    ok("TreeWithoutLists", decodeAndEncode<FolderTree>, R"({"id":"t","name":"n","path":"/n"})",
       R"({"id":"t","name":"n","path":"/n"})"),
    ok("TreeWithNullFiles", decodeAndEncode<FolderTree>,
       R"({"id":"t","name":"n","path":"/n","files":null})", R"({"id":"t","name":"n","path":"/n"})"),
    fails("TreeWithObjectForList", decodeAndEncode<FolderTree>,
          R"({"id":"t","name":"n","path":"/n","children":{}})", Kind::typeMismatch,
          "type mismatch: expected array at children"),
    fails("ListWithBadElement", decodeAndEncode<std::vector<Folder>>,
          "[" + kFolder + "}," + R"({"id":"x"}])", Kind::keyNotFound,
          R"(key not found: "name" at [1])"),
    ok("EmptyList", decodeAndEncode<std::vector<Folder>>, "[]", "[]"),
    fails("ListExpectedGotObject", decodeAndEncode<std::vector<FileInfo>>, "{}", Kind::typeMismatch,
          "type mismatch: expected array"),

    // Push messages.
    ok("FileChangedWithoutEvent", decodeAndEncode<WSMessage>, R"({"type":"file_changed"})",
       R"({"type":"file_changed"})"),
    fails("EventWithoutId", decodeAndEncode<WSMessage>,
          R"({"type":"file_changed","event":{"action":"create"}})", Kind::keyNotFound,
          R"(key not found: "id" at event)"),
    ok("EventWithNullVersion", decodeAndEncode<FileChangedEvent>,
       R"({"id":"e","action":"update","version":null})", R"({"id":"e","action":"update"})"),
    fails("EventWithStringVersion", decodeAndEncode<FileChangedEvent>,
          R"({"id":"e","action":"update","version":"2"})", Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at version"),
    fails("EventKeyOrderHashBeforeUserId", decodeAndEncode<FileChangedEvent>,
          R"({"user_id":1,"hash":2,"id":"e","action":"update"})", Kind::typeMismatch,
          "type mismatch: expected string at hash"),
    ok("OtherMessageTypesPass", decodeAndEncode<WSMessage>, R"({"type":"something else"})",
       R"({"type":"something else"})"),

    // Key orders that differ from the field order.
    fails("SyncEventActionBeforeUserId", decodeAndEncode<SyncEvent>,
          R"({"id":"1","timestamp":"t"})", Kind::keyNotFound, R"(key not found: "action")"),
    fails("SyncEventTimestampBeforeFileId", decodeAndEncode<SyncEvent>,
          R"({"id":"1","action":"a","file_id":3})", Kind::keyNotFound,
          R"(key not found: "timestamp")"),
    ok("SyncEventMetadataIsText", decodeAndEncode<SyncEvent>,
       R"({"id":"1","action":"a","metadata":"{\"k\":1}","timestamp":"t","user_id":"u"})",
       R"({"id":"1","action":"a","metadata":"{\"k\":1}","timestamp":"t","user_id":"u"})"),
    fails("SyncEventMetadataObject", decodeAndEncode<SyncEvent>,
          R"({"id":"1","action":"a","metadata":{},"timestamp":"t","user_id":"u"})",
          Kind::typeMismatch, "type mismatch: expected string at metadata"),
    fails("UploadRequestHashBeforeFolderId", decodeAndEncode<UploadInitRequest>,
          R"({"path":"/a","size":1,"base_version":0})", Kind::keyNotFound,
          R"(key not found: "hash")"),
    fails("UploadRequestSizeBeforeFolderId", decodeAndEncode<UploadInitRequest>,
          R"({"path":"/a","hash":"h","size":"1"})", Kind::typeMismatch,
          "type mismatch: expected 64-bit integer at size"),
    ok("UploadExistsAlone", decodeAndEncode<UploadInitResponse>, R"({"status":"exists"})",
       R"({"status":"exists"})"),
    fails("UploadResponseFileBeforeUploadId", decodeAndEncode<UploadInitResponse>,
          R"({"status":"ok","upload_id":5,"file":{"id":"x"}})", Kind::keyNotFound,
          R"(key not found: "name" at file)"),
    ok("UploadResponseNullFile", decodeAndEncode<UploadInitResponse>,
       R"({"status":"pending","upload_id":"up","file":null})",
       R"({"status":"pending","upload_id":"up"})"),
    fails("VerifyWithBadUser", decodeAndEncode<VerifyResponse>,
          R"({"token":"t","user":{"id":"u","email":false,"name":"n"}})", Kind::typeMismatch,
          "type mismatch: expected string at user.email"),
    fails("VerifyWithoutUser", decodeAndEncode<VerifyResponse>, R"({"token":"t"})",
          Kind::keyNotFound, R"(key not found: "user")"),

    // The two map shapes of the answers whose content nobody reads.
    ok("TextMapEmpty", decodeAndEncode<TextMap>, "{}", "{}"),
    ok("TextMapOfTexts", decodeAndEncode<TextMap>, R"({"message":"sent","a":""})",
       R"({"message":"sent","a":""})"),
    fails("TextMapWithNumber", decodeAndEncode<TextMap>, R"({"message":"sent","n":1})",
          Kind::typeMismatch, "type mismatch: expected string at n"),
    fails("TextMapWithNull", decodeAndEncode<TextMap>, R"({"n":null})", Kind::typeMismatch,
          "type mismatch: expected string at n"),
    fails("TextMapFromArray", decodeAndEncode<TextMap>, "[]", Kind::typeMismatch,
          "type mismatch: expected object"),
    ok("BooleanMapOfBooleans", decodeAndEncode<BooleanMap>, R"({"deleted":true,"x":false})",
       R"({"deleted":true,"x":false})"),
    fails("BooleanMapWithText", decodeAndEncode<BooleanMap>, R"({"deleted":"yes"})",
          Kind::typeMismatch, "type mismatch: expected boolean at deleted"),

    // Not a record at all.
    fails("TopLevelArray", decodeAndEncode<Folder>, "[]", Kind::typeMismatch,
          "type mismatch: expected object"),
    fails("TopLevelNull", decodeAndEncode<Folder>, "null", Kind::typeMismatch,
          "type mismatch: expected object"),
    fails("EmptyText", decodeAndEncode<Folder>, "", Kind::dataCorrupted, ""),
    fails("TruncatedText", decodeAndEncode<Folder>, R"({"id":)", Kind::dataCorrupted, ""),
    fails("InvalidUTF8Text", decodeAndEncode<User>, "{\"id\":\"\xff\"}", Kind::dataCorrupted, ""),
};

class DecodingTest : public testing::TestWithParam<DecodingCase> {};

TEST_P(DecodingTest, DecodesOrFailsAsExpected)
{
    const DecodingCase& c = GetParam();
    if (c.written) {
        const std::string written = c.decodeAndEncode(c.input);
        EXPECT_EQ(nlohmann::json::parse(written), nlohmann::json::parse(*c.written)) << written;
        EXPECT_EQ(written.find("null"), std::string::npos) << written;
        return;
    }
    try {
        const std::string written = c.decodeAndEncode(c.input);
        FAIL() << "decoded unexpectedly as " << written;
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), *c.kind);
        if (c.kind == Kind::dataCorrupted) {
            EXPECT_EQ(error.localizedDescription().rfind("malformed JSON text: ", 0), 0u)
                << error.localizedDescription();
        } else {
            EXPECT_EQ(error.localizedDescription(), c.description);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WireRecords, DecodingTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DecodingCase>& info) {
                             return info.param.name;
                         });

TEST(DecodingErrorTest, CodingPathNamesTheFailingValue)
{
    const std::string tree =
        R"({"id":"t","name":"n","path":"/n","files":[)" + kFile + "," + kFileWithoutHash + "]}";
    try {
        decode<FolderTree>(tree);
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.codingPath(), "files[1].hash");
    }
}

TEST(EncodingTest, EveryFieldSurvivesARoundTrip)
{
    const FileInfo file{"1", "a b.txt", "/Sub/a b.txt", std::string(64, 'a'),   1234567890123,
                        7,   "owner",   "folder",       "2024-01-01T00:00:00Z", "not a date"};
    const FolderTree tree{
        "t", "Docs", "/Docs",
        std::vector<FolderTree>{{"c", "Sub", "/Docs/Sub", std::nullopt, std::vector<FileInfo>{}}},
        std::vector<FileInfo>{file}};
    const FolderTree decoded = decode<FolderTree>(encode(tree));
    EXPECT_EQ(encode(decoded), encode(tree));
    ASSERT_TRUE(decoded.children && decoded.files);
    ASSERT_EQ(decoded.children->size(), 1u);
    EXPECT_FALSE((*decoded.children)[0].children.has_value());
    EXPECT_TRUE((*decoded.children)[0].files.has_value());
    EXPECT_EQ((*decoded.files)[0].size, 1234567890123);
    EXPECT_EQ((*decoded.files)[0].updatedAt, "not a date");

    const WSMessage message{"file_changed",
                            FileChangedEvent{"e", "update", "/a", "h", 3, "u", "f", "t"}};
    EXPECT_EQ(encode(decode<WSMessage>(encode(message))), encode(message));
    const SyncEvent event{"1", "file", "folder", "user", "create", "/a", "{}", "t"};
    EXPECT_EQ(encode(decode<SyncEvent>(encode(event))), encode(event));
    const UploadInitRequest request{"/Sub/a.txt", "folder", "h", 12, 0};
    EXPECT_EQ(nlohmann::json::parse(encode(request)),
              nlohmann::json::parse(R"({"path":"/Sub/a.txt","folder_id":"folder","hash":"h",)"
                                    R"("size":12,"base_version":0})"));
    const VerifyResponse verify{"token", User{"u", "e@x", "Name"}};
    EXPECT_EQ(encode(decode<VerifyResponse>(encode(verify))), encode(verify));
}

TEST(EncodingTest, AbsentOptionalsAreLeftOut)
{
    const auto keys = [](const std::string& text) {
        std::vector<std::string> result;
        const nlohmann::json object = nlohmann::json::parse(text);
        for (const auto& [key, value] : object.items()) {
            EXPECT_FALSE(value.is_null()) << key;
            result.push_back(key);
        }
        return result;
    };
    using Keys = std::vector<std::string>;
    EXPECT_EQ(keys(encode(Folder{"i", "n", "/n", "o", std::nullopt, "c", "u"})),
              (Keys{"created_at", "id", "name", "owner_id", "path", "updated_at"}));
    EXPECT_EQ(keys(encode(FileChangedEvent{"i", "delete", {}, {}, {}, {}, {}, {}})),
              (Keys{"action", "id"}));
    EXPECT_EQ(keys(encode(UploadInitResponse{"exists", {}, {}})), (Keys{"status"}));
    EXPECT_EQ(keys(encode(SyncEvent{"i", {}, {}, "u", "a", {}, {}, "t"})),
              (Keys{"action", "id", "timestamp", "user_id"}));
    EXPECT_EQ(keys(encode(WSMessage{"ping", {}})), (Keys{"type"}));
}

TEST(EncodingTest, ListsAndTextThatNeedsEscaping)
{
    const std::vector<Folder> folders{{"a", "quote \" and \\", "/a", "o", "p", "c", "u"},
                                      {"b", "Ünïcödé 😀", "/b", "o", std::nullopt, "c", "u"}};
    const std::vector<Folder> decoded = decodeList<Folder>(encode(folders));
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0].name, "quote \" and \\");
    EXPECT_EQ(decoded[1].name, "Ünïcödé 😀");
    EXPECT_EQ(decoded[0].parentId, "p");
    EXPECT_FALSE(decoded[1].parentId.has_value());
}

TEST(EncodingTest, TextThatIsNotUTF8FailsToEncode)
{
    const User user{"u", "e", "bad \xC3\x28 name"};
    EXPECT_THROW(encode(user), EncodingError);
    // Printing for logs and test output never fails.
    std::ostringstream out;
    out << user;
    EXPECT_NE(out.str().find("bad "), std::string::npos);
}

}  // namespace
}  // namespace corvane
