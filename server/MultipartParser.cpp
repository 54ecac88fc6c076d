#include "MultipartParser.h"

#include <algorithm>
#include <cctype>

#include "Platform/Error.h"

namespace corvane::server {

namespace {

constexpr std::size_t kMaxBoundary = 200;
constexpr std::size_t kMaxPadding = 256;

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The value of a parameter such as name="x" in a header value ("form-data; name=\"x\"").
std::optional<std::string> parameter(std::string_view value, std::string_view wanted)
{
    std::size_t position = value.find(';');
    while (position != std::string_view::npos && position < value.size()) {
        ++position;
        while (position < value.size() && (value[position] == ' ' || value[position] == '\t')) {
            ++position;
        }
        const auto equals = value.find('=', position);
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string key = lowerCase(trim(value.substr(position, equals - position)));
        std::string result;
        std::size_t next = equals + 1;
        if (next < value.size() && value[next] == '"') {
            ++next;
            while (next < value.size() && value[next] != '"') {
                if (value[next] == '\\' && next + 1 < value.size()) {
                    ++next;
                }
                result += value[next++];
            }
            next = value.find(';', next);
        } else {
            const auto end = value.find(';', next);
            result = std::string(trim(value.substr(next, end - next)));
            next = end;
        }
        if (key == wanted) {
            return result;
        }
        position = next;
    }
    return std::nullopt;
}

}  // namespace

MultipartParser::MultipartParser(std::string boundary, Handler& handler)
    : m_delimiter("\r\n--" + boundary), m_handler(handler), m_pending("\r\n")
{
    // The first boundary line has no CRLF before it; the one put in front of the input lets the
    // same delimiter search find it.
}

std::optional<std::string> MultipartParser::boundaryOf(std::string_view contentType)
{
    const auto semicolon = contentType.find(';');
    if (lowerCase(trim(contentType.substr(0, semicolon))) != "multipart/form-data") {
        return std::nullopt;
    }
    auto boundary = parameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > kMaxBoundary) {
        return std::nullopt;
    }
    return boundary;
}

void MultipartParser::feed(const char* data, std::size_t size)
{
    if (m_state == State::epilogue) {
        return;  // whatever follows the closing boundary is ignored
    }
    m_pending.append(data, size);
    while (step()) {
    }
}

void MultipartParser::finish()
{
    if (m_state != State::epilogue) {
        throw Error("multipart body ends before its closing boundary");
    }
}

bool MultipartParser::step()
{
    switch (m_state) {
    case State::preamble:
        return scanPreamble();
    case State::afterDelimiter:
        return scanAfterDelimiter();
    case State::headers:
        return scanHeaders();
    case State::body:
        return scanBody();
    case State::epilogue:
        m_pending.clear();
        return false;
    }
    return false;
}

bool MultipartParser::scanPreamble()
{
    const auto found = m_pending.find(m_delimiter);
    if (found == std::string::npos) {
        const std::size_t keep = std::min(m_pending.size(), m_delimiter.size() - 1);
        m_pending.erase(0, m_pending.size() - keep);
        return false;
    }
    m_pending.erase(0, found + m_delimiter.size());
    m_state = State::afterDelimiter;
    return true;
}

bool MultipartParser::scanAfterDelimiter()
{
    if (m_pending.size() < 2) {
        return false;
    }
    if (m_pending.compare(0, 2, "--") == 0) {
        m_state = State::epilogue;
        m_pending.clear();
        return false;
    }
    // Transport padding (blanks) may follow the boundary before its CRLF.
    const auto lineEnd = m_pending.find("\r\n");
    if (lineEnd == std::string::npos) {
        if (m_pending.size() > kMaxPadding) {
            throw Error("malformed multipart boundary line");
        }
        return false;
    }
    if (!trim(std::string_view(m_pending).substr(0, lineEnd)).empty()) {
        throw Error("malformed multipart boundary line");
    }
    m_pending.erase(0, lineEnd + 2);
    m_state = State::headers;
    return true;
}

bool MultipartParser::scanHeaders()
{
    std::size_t blockEnd = std::string::npos;
    std::size_t skip = 0;
    if (m_pending.starts_with("\r\n")) {
        blockEnd = 0;  // a part without headers
        skip = 2;
    } else {
        blockEnd = m_pending.find("\r\n\r\n");
        skip = 4;
    }
    // The same limit whether the block came in one read or in many: unfinished, all but the
    // last three bytes (which may start the closing "\r\n\r\n") surely belong to it.
    constexpr std::size_t kTerminatorStart = 3;
    const std::size_t blockSize =
        blockEnd == std::string::npos
            ? m_pending.size() - std::min(m_pending.size(), kTerminatorStart)
            : blockEnd;
    if (blockSize > kMaxHeaderBlock) {
        throw Error("multipart part headers too large");
    }
    if (blockEnd == std::string::npos) {
        return false;
    }
    const Part part = parseHeaders(std::string_view(m_pending).substr(0, blockEnd));
    m_pending.erase(0, blockEnd + skip);
    m_state = State::body;
    m_handler.partBegin(part);
    return true;
}

bool MultipartParser::scanBody()
{
    std::size_t from = 0;
    while (true) {
        const auto found = m_pending.find(m_delimiter, from);
        if (found == std::string::npos) {
            // Keep back what could be the start of a delimiter split across two reads.
            const std::size_t keep = std::min(m_pending.size(), m_delimiter.size() - 1);
            emitData(m_pending.size() - keep);
            return false;
        }
        switch (classifyDelimiter(found + m_delimiter.size())) {
        case Delimiter::boundary:
            emitData(found);
            m_handler.partEnd();
            m_pending.erase(0, m_delimiter.size());
            m_state = State::afterDelimiter;
            return true;
        case Delimiter::undecided:
            emitData(found);
            return false;
        case Delimiter::content:
            from = found + 1;
            break;
        }
    }
}

MultipartParser::Delimiter MultipartParser::classifyDelimiter(std::size_t after) const
{
    // A delimiter is followed by "--" (the last one) or by optional blanks and CRLF. The same
    // text followed by anything else is content that merely contains the boundary.
    if (m_pending.size() < after + 2) {
        return Delimiter::undecided;
    }
    if (m_pending.compare(after, 2, "--") == 0) {
        return Delimiter::boundary;
    }
    std::size_t position = after;
    while (position < m_pending.size() &&
           (m_pending[position] == ' ' || m_pending[position] == '\t')) {
        ++position;
    }
    if (position - after > kMaxPadding) {
        return Delimiter::content;
    }
    if (m_pending.size() < position + 2) {
        return Delimiter::undecided;
    }
    return m_pending.compare(position, 2, "\r\n") == 0 ? Delimiter::boundary : Delimiter::content;
}

void MultipartParser::emitData(std::size_t count)
{
    if (count > 0) {
        m_handler.partData(m_pending.data(), count);
        m_pending.erase(0, count);
    }
}

MultipartParser::Part MultipartParser::parseHeaders(std::string_view block) const
{
    Part part;
    bool hasDisposition = false;
    while (!block.empty()) {
        const auto lineEnd = block.find("\r\n");
        const std::string_view line = block.substr(0, lineEnd);
        block = lineEnd == std::string_view::npos ? std::string_view() : block.substr(lineEnd + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            throw Error("malformed multipart part header");
        }
        const std::string name = lowerCase(trim(line.substr(0, colon)));
        const std::string_view value = trim(line.substr(colon + 1));
        if (name == "content-disposition") {
            hasDisposition = true;
            part.name = parameter(value, "name").value_or("");
            part.filename = parameter(value, "filename");
        } else if (name == "content-type") {
            part.contentType = std::string(value);
        }
    }
    if (!hasDisposition) {
        throw Error("multipart part without Content-Disposition");
    }
    return part;
}

}  // namespace corvane::server
