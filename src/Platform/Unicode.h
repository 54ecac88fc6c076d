#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Canonical equivalence of UTF-8 text. File names reach us in either precomposed or decomposed
// form ("é" as one code point or as "e" plus a combining accent), and both spellings must name
// the same entry: keys and comparisons go through the NFC form. Text that is not valid UTF-8
// is left exactly as it is. Thread-safe.
class Unicode {
public:
    // The NFC (canonical composition) form of `text`; `text` unchanged when it is not UTF-8.
    static std::string nfc(std::string_view text);
    // True when the two texts are canonically equivalent.
    static bool canonicallyEqual(std::string_view a, std::string_view b);
    // The part of `path` below `folder`: "" for the folder itself, else beginning with "/", in
    // the spelling of `path`. Nothing when `path` is neither the folder nor inside it:
    // "/home/u/Sync2" is not inside "/home/u/Sync". Canonically equivalent spellings count as
    // equal; a trailing "/" of the folder does not count.
    static std::optional<std::string> pathBelow(std::string_view path, std::string_view folder);

    // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool isValidUTF8(std::string_view text);
    // The length of the strict UTF-8 sequence that starts at `text[at]` (1 for ASCII), or 0 when
    // no valid one starts there. `at` must lie inside `text`.
    static std::size_t sequenceLength(std::string_view text, std::size_t at);
    // `text` with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD, for
    // texts that must be shown or passed on as UTF-8 whatever bytes they came from.
    static std::string validUTF8(std::string_view text);
    // `text` as UTF-8 that keeps such texts apart: every byte that is not part of a valid
    // sequence becomes one of the private-use characters U+EF80 to U+EFFF, one per byte value,
    // so two texts that differ only in those bytes stay different (unless one spells these
    // rare characters out itself). Valid UTF-8 stays as it is.
    static std::string escapedUTF8(std::string_view text);
};

}  // namespace corvane
