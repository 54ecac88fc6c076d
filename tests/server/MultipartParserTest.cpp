#include <gtest/gtest.h>

#include "MultipartParser.h"
#include "Platform/Error.h"

namespace corvane::server {
namespace {

// Collects the parts the parser reports.
class Collector : public MultipartParser::Handler {
public:
    struct Collected {
        MultipartParser::Part part;
        std::string data;
        bool ended = false;
    };
    std::vector<Collected> parts;

    void partBegin(const MultipartParser::Part& part) override
    {
        parts.push_back({part, {}, false});
    }
    void partData(const char* data, std::size_t size) override
    {
        parts.back().data.append(data, size);
    }
    void partEnd() override { parts.back().ended = true; }
};

std::string clientBody(const std::string& boundary, const std::string& id, const std::string& data)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"upload_id\"\r\n\r\n" + id +
           "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           data + "\r\n--" + boundary + "--\r\n";
}

void expectClientParts(const Collector& collector, const std::string& data)
{
    ASSERT_EQ(collector.parts.size(), 2u);
    EXPECT_EQ(collector.parts[0].part.name, "upload_id");
    EXPECT_EQ(collector.parts[0].data, "up-1");
    EXPECT_EQ(collector.parts[1].part.name, "data");
    EXPECT_EQ(collector.parts[1].part.filename, "chunk");
    EXPECT_EQ(collector.parts[1].part.contentType, "application/octet-stream");
    EXPECT_TRUE(collector.parts[1].ended);
    EXPECT_EQ(collector.parts[1].data, data);
}

TEST(MultipartParser, EverySplitOfTheInputGivesTheSameParts)
{
    const std::string boundary = "0A1B2C3D-0000-4000-8000-00000000ABCD";
    const std::vector<std::string> contents{"",
                                            "x",
                                            "\r\n--" + boundary.substr(0, 20),
                                            "--" + boundary + "--",
                                            "\r\n--" + boundary + "X\r\n--" + boundary + " \tY",
                                            "\r\r\n\n--"};
    for (const auto& content : contents) {
        const std::string body = clientBody(boundary, "up-1", content);
        for (std::size_t split = 0; split <= body.size(); ++split) {
            Collector collector;
            MultipartParser parser(boundary, collector);
            parser.feed(body.data(), split);
            parser.feed(body.data() + split, body.size() - split);
            ASSERT_NO_THROW(parser.finish()) << "split " << split;
            expectClientParts(collector, content);
        }
        // Byte by byte.
        Collector collector;
        MultipartParser parser(boundary, collector);
        for (const char c : body) {
            parser.feed(&c, 1);
        }
        parser.finish();
        expectClientParts(collector, content);
    }
}

TEST(MultipartParser, PaddingAfterTheBoundaryAndEpilogueAreAccepted)
{
    Collector collector;
    MultipartParser parser("b", collector);
    const std::string body = "ignored\r\n--b  \r\nContent-Disposition: form-data; name=a\r\n\r\n1"
                             "\r\n--b--\r\nepilogue";
    parser.feed(body.data(), body.size());
    parser.finish();
    ASSERT_EQ(collector.parts.size(), 1u);
    EXPECT_EQ(collector.parts[0].part.name, "a");
    EXPECT_EQ(collector.parts[0].data, "1");
}

TEST(MultipartParser, MalformedInputIsReported)
{
    const std::vector<std::string> bodies{
        "--b\r\nContent-Disposition: form-data; name=a\r\n\r\n1",  // no closing boundary
        "--b\r\nnot a header\r\n\r\n1\r\n--b--",
        "--b\r\nContent-Type: text/plain\r\n\r\n1\r\n--b--",  // no disposition
        "--bX\r\n",
    };
    for (const auto& body : bodies) {
        Collector collector;
        MultipartParser parser("b", collector);
        EXPECT_THROW(
            {
                parser.feed(body.data(), body.size());
                parser.finish();
            },
            Error)
            << body;
    }
}

TEST(MultipartParser, HeaderBlockLimitHoldsHoweverTheBytesArrive)
{
    // A part whose header block is exactly `size` bytes long, its closing empty line not counted.
    const auto bodyWithHeaderBlock = [](std::size_t size) {
        const std::string disposition = "Content-Disposition: form-data; name=a\r\nX-Pad: ";
        return "--b\r\n" + disposition + std::string(size - disposition.size(), 'p') +
               "\r\n\r\n1\r\n--b--\r\n";
    };
    const std::size_t limit = MultipartParser::kMaxHeaderBlock;
    const std::vector<std::size_t> steps{0, 1, 7, 4096};  // 0: all at once
    const std::vector<std::size_t> sizes{limit, limit + 1, 20 * 1024};
    for (const std::size_t step : steps) {
        for (const std::size_t size : sizes) {
            const std::string body = bodyWithHeaderBlock(size);
            Collector collector;
            MultipartParser parser("b", collector);
            const auto feedAll = [&] {
                const std::size_t chunk = step == 0 ? body.size() : step;
                for (std::size_t at = 0; at < body.size(); at += chunk) {
                    parser.feed(body.data() + at, std::min(chunk, body.size() - at));
                }
                parser.finish();
            };
            if (size <= limit) {
                EXPECT_NO_THROW(feedAll()) << "size " << size << " step " << step;
                EXPECT_EQ(collector.parts.size(), 1u);
            } else {
                EXPECT_THROW(feedAll(), Error) << "size " << size << " step " << step;
                EXPECT_TRUE(collector.parts.empty());
            }
        }
    }
}

TEST(MultipartParser, BoundaryComesFromTheContentType)
{
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; boundary=ABC"), "ABC");
    EXPECT_EQ(MultipartParser::boundaryOf("Multipart/Form-Data;BOUNDARY=\"a b\""), "a b");
    EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; charset=x; boundary=Z"), "Z");
    EXPECT_FALSE(MultipartParser::boundaryOf("multipart/form-data"));
    EXPECT_FALSE(MultipartParser::boundaryOf("multipart/form-data; boundary="));
    EXPECT_FALSE(MultipartParser::boundaryOf("application/json; boundary=x"));
    EXPECT_FALSE(MultipartParser::boundaryOf(""));
}

}  // namespace
}  // namespace corvane::server
