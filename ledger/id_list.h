// The stored form of a result list: the ids of its links (rows of the `links` table) in position
// order, each as an unsigned LEB128 varint (7 bits a byte, low bits first, the high bit set on
// every byte but the last). Ids up to 2^21 take three bytes, so a list of 100 links is about
// 300 bytes against some 6 KB of link text.
//
// Free functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rankcheck::ledger {

std::string EncodeIdList(const std::vector<int64_t>& ids);
// nullopt when `bytes` is not such a list (cut off inside a varint, or a value beyond 63 bits).
std::optional<std::vector<int64_t>> DecodeIdList(std::string_view bytes);

}  // namespace rankcheck::ledger
