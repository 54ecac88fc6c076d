#include "Platform/Error.h"

#include <cstring>

namespace corvane {

std::string systemErrorText(int errorNumber)
{
    char buffer[256];
    // The GNU strerror_r: returns the text, in `buffer` or in a static table.
    return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

FileError::FileError(const std::string& action, const std::string& path, int errorNumber)
    : Error(action + " \"" + path + "\": " + systemErrorText(errorNumber)),
      m_errorNumber(errorNumber)
{
}

}  // namespace corvane
