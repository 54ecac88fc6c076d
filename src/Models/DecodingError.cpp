#include "Models/DecodingError.h"

#include <utility>

namespace corvane {
namespace {

std::string childPath(const std::string& objectPath, const std::string& key)
{
    return objectPath.empty() ? key : objectPath + "." + key;
}

std::string atPath(const std::string& path)
{
    return path.empty() ? std::string() : " at " + path;
}

}  // namespace

DecodingError::DecodingError(Kind kind, std::string codingPath, const std::string& description)
    : Error(description), m_kind(kind), m_codingPath(std::move(codingPath))
{
}

DecodingError DecodingError::keyNotFound(const std::string& key, const std::string& objectPath)
{
    return DecodingError(Kind::keyNotFound, childPath(objectPath, key),
                         "key not found: \"" + key + "\"" + atPath(objectPath));
}

DecodingError DecodingError::valueNotFound(const std::string& key, const std::string& objectPath)
{
    return DecodingError(Kind::valueNotFound, childPath(objectPath, key),
                         "value not found: \"" + key + "\"" + atPath(objectPath));
}

DecodingError DecodingError::typeMismatch(const std::string& expected, const std::string& path)
{
    return DecodingError(Kind::typeMismatch, path,
                         "type mismatch: expected " + expected + atPath(path));
}

DecodingError DecodingError::dataCorrupted(const std::string& message)
{
    return DecodingError(Kind::dataCorrupted, {}, "malformed JSON text: " + message);
}

std::ostream& operator<<(std::ostream& out, DecodingError::Kind kind)
{
    switch (kind) {
    case DecodingError::Kind::keyNotFound:
        return out << "keyNotFound";
    case DecodingError::Kind::valueNotFound:
        return out << "valueNotFound";
    case DecodingError::Kind::typeMismatch:
        return out << "typeMismatch";
    case DecodingError::Kind::dataCorrupted:
        return out << "dataCorrupted";
    }
    return out << "unknown";
}

}  // namespace corvane
