// Fuzzes the response classifier with arbitrary receive arrays.
//
// Input: byte 0 chooses the array (bit 0: 28 elements, else 4; bit 1: two
// input bytes per element, so that values above 0xFF occur too); the rest
// fills the elements, zero where the input runs out, as after a receive that
// timed out.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "protocol/packets.h"

using namespace farsend::protocol;

namespace {

bool IsLong(ResponseCode code) {
    return code == ResponseCode::VariantReply || code == ResponseCode::VersionReply;
}

// Bytes 1 and 2 of the packet that carries `code`, from the encoders.
bool PairOf(ResponseCode code, std::uint32_t& byte1, std::uint32_t& byte2) {
    if (const auto bytes = EncodeShortResponse(code)) {
        byte1 = (*bytes)[1];
        byte2 = (*bytes)[2];
        return true;
    }
    if (const auto bytes = EncodeLongResponse(code, "")) {
        byte1 = (*bytes)[1];
        byte2 = (*bytes)[2];
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t n = (data[0] & 1) ? kLongResponseLength : kShortResponseLength;
    const bool wide = (data[0] & 2) != 0;
    std::uint32_t elements[kLongResponseLength] = {};
    std::size_t at = 1;
    for (std::size_t i = 0; i < n && at < size; ++i) {
        elements[i] = data[at++];
        if (wide && at < size) elements[i] |= static_cast<std::uint32_t>(data[at++]) << 8;
    }

    const ResponseCode code = ClassifyResponse(elements, n);
    const int value = static_cast<int>(code);
    FUZZ_CHECK(value >= 0 && value <= kLastResponseCode);

    // Whatever it accepts is well formed.
    if (code != ResponseCode::Invalid) {
        FUZZ_CHECK(elements[0] == kResponseLeadByte);
        std::uint32_t byte1 = 0, byte2 = 0;
        FUZZ_CHECK(PairOf(code, byte1, byte2));
        FUZZ_CHECK(elements[1] == byte1 && elements[2] == byte2);
        if (IsLong(code)) {
            FUZZ_CHECK(n == kLongResponseLength);
            FUZZ_CHECK(ResponseCheckMatches(elements, kLongResponseLength));
        } else {
            FUZZ_CHECK(ResponseCheckMatches(elements, kShortResponseLength));
            // A short answer is judged by its first four elements alone.
            FUZZ_CHECK(ClassifyResponse(elements, kShortResponseLength) == code);
        }
    }

    // And whatever is well formed, it accepts: no valid packet is lost.
    for (int c = 1; c <= kLastResponseCode; ++c) {
        const auto candidate = static_cast<ResponseCode>(c);
        std::uint32_t byte1 = 0, byte2 = 0;
        FUZZ_CHECK(PairOf(candidate, byte1, byte2));
        if (elements[0] != kResponseLeadByte || elements[1] != byte1 || elements[2] != byte2) {
            continue;
        }
        const bool fits = IsLong(candidate)
                              ? n == kLongResponseLength && ResponseCheckMatches(elements, n)
                              : ResponseCheckMatches(elements, 4);
        FUZZ_CHECK(fits == (code == candidate));
    }

    const std::string text = ReplyText(elements, n);
    FUZZ_CHECK(text.size() <= kReplyTextLength);
    FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) == nullptr);

    std::uint8_t wire[4];
    for (int i = 0; i < 4; ++i) wire[i] = static_cast<std::uint8_t>(elements[i]);
    if (const auto command = FindCommand(wire, 4)) {
        const CommandPacket& stored = GetCommandPacket(*command);
        for (int i = 0; i < 4; ++i) FUZZ_CHECK(stored[i] == wire[i]);
    }
    return 0;
}
