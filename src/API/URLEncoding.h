#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Percent-encoding of ids placed into request addresses. Every byte outside the allowed set is
// written as "%" and two upper-case hexadecimal digits; UTF-8 text is encoded byte by byte.
// Pure functions; thread-safe.

// For a query value: allowed are letters, digits, "-._~", "!$&'()*+,;=", ":", "@", "/" and "?",
// so "&", "=" and "+" pass unencoded.
std::string percentEncodeQuery(std::string_view text);

// For a path: allowed are letters, digits, "-._~", "!$&'()*+,=", ":", "@" and "/"; the slash
// stays, while ";", "?", "#", "%" and blanks are encoded.
std::string percentEncodePath(std::string_view text);

// Whether `text` is an absolute URL that may be sent as it is: only characters that a URL may
// carry (a "%" must start an escape of two hexadecimal digits), a scheme and a host.
bool isValidRequestURL(const std::string& text);

}  // namespace corvane
