// Inputs found by fuzzing the decoders (fuzz/), and their neighbours: each must fail with a
// DecodingError that a user can be shown, never with another exception or a crash.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Models/DecodingError.h"
#include "Models/Models.h"
#include "Platform/Unicode.h"

namespace corvane {
namespace {

using Kind = DecodingError::Kind;

struct Decoder {
    std::string name;
    std::function<void(const std::string&)> decode;
};

template <typename T>
Decoder decoderOf(std::string name)
{
    return {std::move(name), [](const std::string& text) { decode<T>(text); }};
}

// Every shape the client decodes from the server or the push channel.
const std::vector<Decoder>& allDecoders()
{
    static const std::vector<Decoder> decoders = {
        decoderOf<User>("User"),
        decoderOf<Folder>("Folder"),
        decoderOf<FileInfo>("FileInfo"),
        decoderOf<FolderTree>("FolderTree"),
        decoderOf<SyncEvent>("SyncEvent"),
        decoderOf<UploadInitResponse>("UploadInitResponse"),
        decoderOf<VerifyResponse>("VerifyResponse"),
        decoderOf<FileChangedEvent>("FileChangedEvent"),
        decoderOf<WSMessage>("WSMessage"),
        decoderOf<std::vector<Folder>>("FolderList"),
        decoderOf<std::vector<FileInfo>>("FileList"),
        decoderOf<std::vector<SyncEvent>>("EventList"),
        decoderOf<TextMap>("TextMap"),
        decoderOf<BooleanMap>("BooleanMap"),
    };
    return decoders;
}

struct Malformed {
    std::string name;
    std::string text;
};

std::ostream& operator<<(std::ostream& out, const Malformed& input)
{
    return out << input.name;
}

std::string nested(std::size_t depth, const std::string& inner = "0")
{
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

const Malformed kMalformed[] = {
    // The parser's message quotes the offending bytes; the description must still be UTF-8.
    {"InvalidUTF8InKey", "{\"id\":\"u-1\",\"email\":\"ada@example.com\",\"n\xbdme\":\"Ada\"}"},
    {"InvalidUTF8InValue", "{\"type\":\"file_changed\",\"x\":\"\xc3\x28\xff\"}"},
    {"LoneSurrogateEscape", R"({"type":"\ud800"})"},
    // A number beyond a double's range is an out_of_range error of the library, not a parse
    // error: it used to escape the decoder as a foreign exception.
    {"NumberTooLargeForADouble", R"({"type":"ping","n":1e400})"},
    {"NegativeNumberTooLarge", R"([-1e999])"},
    {"HugeIntegerField", R"({"id":"1","size":1e309})"},
    // Nesting past the limit is refused before anything is read, wherever it is.
    {"NestedPastTheLimit", nested(513)},
    {"NestedPastTheLimitInAnIgnoredMember", R"({"type":"ping","x":)" + nested(600) + "}"},
    {"DeeplyNestedMalformed", std::string(100'000, '[')},
};

class MalformedTextTest : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedTextTest, EveryDecoderFailsWithAReadableDataCorruptedError)
{
    for (const Decoder& decoder : allDecoders()) {
        try {
            decoder.decode(GetParam().text);
            ADD_FAILURE() << decoder.name << " decoded it";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), Kind::dataCorrupted) << decoder.name;
            const std::string description = error.localizedDescription();
            EXPECT_EQ(description.rfind("malformed JSON text: ", 0), 0u) << description;
            EXPECT_TRUE(Unicode::isValidUTF8(description)) << decoder.name << ": " << description;
        } catch (const std::exception& error) {
            ADD_FAILURE() << decoder.name << " threw a foreign exception: " << error.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FuzzFindings, MalformedTextTest, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<Malformed>& info) {
                             return info.param.name;
                         });

// A folder tree whose every folder holds the next one, `levels` folders deep.
std::string treeChain(std::size_t levels)
{
    std::string text;
    for (std::size_t i = 0; i < levels; ++i) {
        text += R"({"id":"d","name":"d","path":"/d","children":[)";
    }
    text += R"({"id":"leaf","name":"leaf","path":"/leaf"})";
    for (std::size_t i = 0; i < levels; ++i) {
        text += "]}";
    }
    return text;
}

TEST(DeepFolderTreeTest, TreesWithinTheLimitDecode)
{
    // Two nesting levels per folder: 255 folders below the top one fit in 512.
    FolderTree tree = decode<FolderTree>(treeChain(255));
    std::size_t depth = 0;
    const FolderTree* folder = &tree;
    while (folder->children && !folder->children->empty()) {
        folder = &folder->children->front();
        ++depth;
    }
    EXPECT_EQ(depth, 255u);
    EXPECT_EQ(folder->id, "leaf");
}

TEST(DeepFolderTreeTest, DeeperTreesFailInsteadOfExhaustingTheStack)
{
    // Decoding recursed once per folder and built a key path per level ("children[0]." each):
    // a tree a few megabytes deep overflowed the stack and took gigabytes for the paths.
    for (const std::size_t levels : {256u, 100'000u}) {
        try {
            decode<FolderTree>(treeChain(levels));
            ADD_FAILURE() << levels << " levels decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), Kind::dataCorrupted);
            EXPECT_NE(error.localizedDescription().find("nested more than 512"), std::string::npos)
                << error.localizedDescription();
        }
    }
}

TEST(DeepFolderTreeTest, BracketsInsideTextsDoNotCount)
{
    const std::string brackets = std::string(600, '[') + "\\\"" + std::string(600, '{');
    const Folder folder = decode<Folder>(R"({"id":"i","name":")" + brackets +
                                         R"(","path":"/p","owner_id":"o","created_at":"c",)"
                                         R"("updated_at":"u"})");
    EXPECT_EQ(folder.name, std::string(600, '[') + "\"" + std::string(600, '{'));
}

}  // namespace
}  // namespace corvane
