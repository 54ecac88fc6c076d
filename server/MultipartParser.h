#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::server {

// Incremental multipart/form-data parser: bytes go in as they arrive, part contents come out
// through the Handler without the body ever being held in memory (at most one delimiter's
// worth of bytes is kept back). Content may contain boundary-like text: only CRLF "--" boundary
// followed by "--" or by blanks and CRLF ends a part. One thread at a time.
class MultipartParser {
public:
    struct Part {
        std::string name;
        std::optional<std::string> filename;
        std::string contentType;
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void partBegin(const Part& part) = 0;
        virtual void partData(const char* data, std::size_t size) = 0;
        virtual void partEnd() = 0;
    };

    // The most bytes a part's header block may take, its closing empty line not counted.
    static constexpr std::size_t kMaxHeaderBlock = 16 * 1024;

    MultipartParser(std::string boundary, Handler& handler);

    // Throws corvane::Error on malformed input; the handler's exceptions pass through.
    void feed(const char* data, std::size_t size);
    // Throws when the closing boundary has not been seen.
    void finish();
    bool complete() const { return m_state == State::epilogue; }

    // The boundary parameter of a "multipart/form-data; boundary=..." header value.
    static std::optional<std::string> boundaryOf(std::string_view contentType);

private:
    enum class State { preamble, afterDelimiter, headers, body, epilogue };
    enum class Delimiter { boundary, content, undecided };

    bool step();  // one state's worth of work; false when more input is needed
    bool scanPreamble();
    bool scanAfterDelimiter();
    bool scanHeaders();
    bool scanBody();
    Delimiter classifyDelimiter(std::size_t after) const;
    void emitData(std::size_t count);
    Part parseHeaders(std::string_view block) const;

    std::string m_delimiter;  // CRLF "--" boundary
    Handler& m_handler;
    State m_state = State::preamble;
    std::string m_pending;
};

}  // namespace corvane::server
