#include "Request.h"

#include "HttpError.h"

namespace corvane::server {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Calls visit(name, value) for each "name=value" pair of the query, both still encoded, until it
// returns false.
template <class Visitor>
void forEachPair(const std::string& query, Visitor&& visit)
{
    std::size_t start = 0;
    while (start <= query.size()) {
        auto end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string pair = query.substr(start, end - start);
        const auto equals = pair.find('=');
        const std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
        if (!visit(pair.substr(0, equals), value)) {
            return;
        }
        start = end + 1;
    }
}

}  // namespace

std::optional<std::string> Request::header(const std::string& lowerCaseName) const
{
    const auto found = headers.find(lowerCaseName);
    if (found == headers.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> Request::queryValue(const std::string& name) const
{
    std::optional<std::string> found;
    forEachPair(query, [&](const std::string& key, const std::string& value) {
        if (key != name) {
            return true;
        }
        found = percentDecode(value);
        if (!found) {
            // Never taken for an absent parameter: that would widen what the request asks for.
            throw HttpError(400, "malformed query: " + name + " is not valid percent-encoding");
        }
        return false;
    });
    return found;
}

bool Request::queryDecodes() const
{
    bool decodes = true;
    forEachPair(query, [&](const std::string& key, const std::string& value) {
        decodes = percentDecode(key) && percentDecode(value);
        return decodes;
    });
    return decodes;
}

std::pair<std::string, std::string> Request::splitTarget(const std::string& target)
{
    const auto question = target.find('?');
    if (question == std::string::npos) {
        return {target, ""};
    }
    return {target.substr(0, question), target.substr(question + 1)};
}

std::optional<std::string> Request::percentDecode(const std::string& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

}  // namespace corvane::server
