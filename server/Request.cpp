#include "Request.h"

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
    std::size_t start = 0;
    while (start <= query.size()) {
        auto end = query.find('&', start);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string pair = query.substr(start, end - start);
        const auto equals = pair.find('=');
        const std::string key = pair.substr(0, equals);
        if (key == name) {
            return percentDecode(equals == std::string::npos ? "" : pair.substr(equals + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
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
