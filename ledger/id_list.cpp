#include "ledger/id_list.h"

namespace rankcheck::ledger {

std::string EncodeIdList(const std::vector<int64_t>& ids) {
    std::string bytes;
    bytes.reserve(ids.size() * 3);
    for (const int64_t id : ids) {
        auto value = static_cast<uint64_t>(id);
        while (value >= 0x80) {
            bytes.push_back(static_cast<char>((value & 0x7f) | 0x80));
            value >>= 7;
        }
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

std::optional<std::vector<int64_t>> DecodeIdList(std::string_view bytes) {
    std::vector<int64_t> ids;
    ids.reserve(bytes.size() / 3 + 1);
    uint64_t value = 0;
    int shift = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (shift == 63 && byte > 0) return std::nullopt;  // beyond 63 bits
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (byte & 0x80) {
            shift += 7;
            if (shift > 63) return std::nullopt;
        } else {
            ids.push_back(static_cast<int64_t>(value));
            value = 0;
            shift = 0;
        }
    }
    if (shift != 0) return std::nullopt;  // cut off inside a varint
    return ids;
}

}  // namespace rankcheck::ledger
