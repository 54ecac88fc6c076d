#pragma once

#include <string>

#include "Platform/Error.h"

namespace corvane {

// A file sent from disk was not the content declared for it: written to after it was hashed, or
// while it was being sent. Nothing was stored under the declared hash; the file is not settled
// yet rather than broken. Immutable; safe to share between threads.
class ContentChangedError : public Error {
public:
    using Error::Error;
};

}  // namespace corvane
