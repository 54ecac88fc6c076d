#include "API/URLEncoding.h"

#include <memory>

#include <curl/curl.h>

namespace corvane {
namespace {

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isHexDigit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string percentEncode(std::string_view text, std::string_view alsoAllowed)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || alsoAllowed.find(ch) != std::string_view::npos) {
            result.push_back(ch);
        } else {
            result.push_back('%');
            result.push_back(kHex[c >> 4]);
            result.push_back(kHex[c & 0x0F]);
        }
    }
    return result;
}

// Characters a URL may carry as they are: unreserved, general and sub-delimiters.
bool hasOnlyURLCharacters(std::string_view text)
{
    static constexpr std::string_view kDelimiters = ":/?#[]@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(static_cast<unsigned char>(text[i + 1])) ||
                !isHexDigit(static_cast<unsigned char>(text[i + 2]))) {
                return false;
            }
            i += 2;
        } else if (!isUnreserved(c) && kDelimiters.find(text[i]) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// "scheme://" followed by a non-empty authority. libcurl would read "http:///api" as the host
// "api", so the authority is checked here.
bool hasSchemeAndAuthority(std::string_view text)
{
    const std::size_t separator = text.find("://");
    if (separator == std::string_view::npos || separator == 0) {
        return false;
    }
    for (std::size_t i = 0; i < separator; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (i == 0 || !other)) {
            return false;
        }
    }
    const std::size_t authority = separator + 3;
    return authority < text.size() && text[authority] != '/' && text[authority] != '?' &&
           text[authority] != '#';
}

struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

}  // namespace

std::string percentEncodeQuery(std::string_view text)
{
    return percentEncode(text, "!$&'()*+,;=:@/?");
}

std::string percentEncodePath(std::string_view text)
{
    return percentEncode(text, "!$&'()*+,=:@/");
}

bool isValidRequestURL(const std::string& text)
{
    if (!hasOnlyURLCharacters(text) || !hasSchemeAndAuthority(text)) {
        return false;
    }
    const std::unique_ptr<CURLU, URLDeleter> url(curl_url());
    if (!url) {
        return false;
    }
    // PATH_AS_IS: ids are sent as given, so "." segments must not be folded away.
    if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
        return false;
    }
    char* host = nullptr;
    const bool hasHost =
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host && host[0] != '\0';
    curl_free(host);
    return hasHost;
}

}  // namespace corvane
