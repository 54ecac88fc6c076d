#pragma once

#include <ostream>
#include <string>

#include "Platform/Error.h"

namespace corvane {

// A JSON text that does not decode as the record the caller expects. The description names the
// kind of failure and the key path to the failing value, for example
// `key not found: "size" at files[2]` or `type mismatch: expected string at files[0].id`.
// Immutable; safe to share between threads.
class DecodingError : public Error {
public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

    // `key` is missing from the object at `objectPath` (empty for the top level).
    static DecodingError keyNotFound(const std::string& key, const std::string& objectPath);
    // `key` of the object at `objectPath` holds null where a value is required.
    static DecodingError valueNotFound(const std::string& key, const std::string& objectPath);
    // The value at `path` is not of the `expected` JSON type (or out of the field's range).
    static DecodingError typeMismatch(const std::string& expected, const std::string& path);
    // The text is not JSON at all.
    static DecodingError dataCorrupted(const std::string& message);

    Kind kind() const { return m_kind; }
    // Key path to the failing value ("files[2].size"); empty for the top level or malformed text.
    const std::string& codingPath() const { return m_codingPath; }

private:
    DecodingError(Kind kind, std::string codingPath, const std::string& description);

    Kind m_kind;
    std::string m_codingPath;
};

std::ostream& operator<<(std::ostream& out, DecodingError::Kind kind);

}  // namespace corvane
