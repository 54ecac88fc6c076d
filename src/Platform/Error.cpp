#include "Platform/Error.h"

#include <cstring>

namespace corvane {

FileError::FileError(const std::string& action, const std::string& path, int errorNumber)
    : Error(action + " \"" + path + "\": " + std::strerror(errorNumber)), m_errorNumber(errorNumber)
{
}

}  // namespace corvane
