#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

class DecodingError;

namespace fuzz {

// Prints what went wrong and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

// Strict UTF-8, independent of the code under test.
bool isUTF8(std::string_view text);

// The deepest nesting of arrays and objects in a JSON text, counted on brackets outside strings;
// malformed text gives a number all the same.
std::size_t nestingDepth(std::string_view text);

// What every decoding failure must look like: a description the user can be shown (non-empty
// UTF-8 text) and a known kind.
void checkDecodingError(const DecodingError& error);

}  // namespace fuzz
}  // namespace corvane
