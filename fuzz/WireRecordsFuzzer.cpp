// Fuzzes the decoding of every JSON answer the client reads from the server. The first input
// byte picks the record, list or map (see kDecoders; seeds write it as a letter from 'A'), the
// rest is the JSON text. A text that decodes must encode without error and survive a second
// round unchanged; one that does not must fail with a DecodingError that a user can be shown.
// Any other exception escapes and counts as a crash.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "API/APIRecords.h"
#include "FuzzChecks.h"
#include "Models/DecodingError.h"
#include "Models/JsonCoding.h"
#include "Models/Models.h"

namespace corvane {
namespace {

template <typename T>
concept Printable = requires(std::ostream& out, const T& value)
{
    out << value;
};

template <typename T>
void roundTrip(std::string_view text)
{
    T value;
    try {
        value = decode<T>(text);
    } catch (const DecodingError& error) {
        fuzz::checkDecodingError(error);
        return;
    }
    // Decoded texts are UTF-8, so encoding cannot fail; a throw here escapes as a crash.
    const std::string once = encode(value);
    const std::string twice = encode(decode<T>(once));
    if (once != twice) {
        fuzz::fail("second round changed the record", once + "\n  " + twice);
    }
    if constexpr (Printable<T>) {
        std::ostringstream printed;
        printed << value;
        if (printed.str().empty()) {
            fuzz::fail("record printed as nothing");
        }
    }
}

using Decoder = void (*)(std::string_view);

// The order is the meaning of the selector byte: 'A' is User, 'B' Folder, and so on.
constexpr Decoder kDecoders[] = {
    roundTrip<User>,                    // A
    roundTrip<Folder>,                  // B
    roundTrip<FileInfo>,                // C
    roundTrip<FolderTree>,              // D
    roundTrip<SyncEvent>,               // E
    roundTrip<UploadInitRequest>,       // F
    roundTrip<UploadInitResponse>,      // G
    roundTrip<VerifyResponse>,          // H
    roundTrip<FileChangedEvent>,        // I
    roundTrip<WSMessage>,               // J
    roundTrip<std::vector<Folder>>,     // K: folder list
    roundTrip<std::vector<FileInfo>>,   // L: file list
    roundTrip<std::vector<SyncEvent>>,  // M: event list
    roundTrip<TextMap>,                 // N: send-code answer
    roundTrip<BooleanMap>,              // O: delete answer
    roundTrip<ChunkResponse>,           // P: chunk upload answer
};
constexpr std::size_t kDecoderCount = std::extent_v<decltype(kDecoders)>;

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const auto selector = static_cast<std::uint8_t>(data[0] - 'A') % corvane::kDecoderCount;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    corvane::kDecoders[selector](text);
    return 0;
}
