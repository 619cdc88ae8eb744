#include "libs/pxunz/PrefixCode.h"

#include <algorithm>
#include <iterator>

namespace pellux::libs {

bool PrefixCode::Build(const std::uint8_t *lengths, unsigned count)
{
    if (count > kMaxSymbols)
        return false;
    std::fill(std::begin(count_), std::end(count_), std::uint16_t{0});
    std::fill(std::begin(fast_), std::end(fast_), std::uint16_t{0});
    for (unsigned i = 0; i < count; ++i) {
        if (lengths[i] > kMaxLength)
            return false;
        ++count_[lengths[i]];
    }
    count_[0] = 0;
    int left = 1;
    std::uint16_t offsets[kMaxLength + 2] = {};
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        left = (left << 1) - count_[len];
        if (left < 0)
            return false;
        offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + count_[len]);
    }
    // Codes of one length are consecutive and follow the symbols' order.
    std::uint32_t code = 0;
    std::uint32_t next[kMaxLength + 1] = {};
    for (unsigned len = 2; len <= kMaxLength; ++len)
        next[len] = code = (code + count_[len - 1]) << 1;
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        const unsigned len = lengths[symbol];
        if (len == 0)
            continue;
        symbols_[offsets[len]++] = static_cast<std::uint16_t>(symbol);
        const std::uint32_t c = next[len]++;
        if (len > kFastBits)
            continue;
        // The stream gives the code's first (most significant) bit first.
        std::uint32_t reversed = 0;
        for (unsigned i = 0; i < len; ++i)
            reversed |= ((c >> i) & 1u) << (len - 1 - i);
        for (std::uint32_t i = reversed; i < kFastSize; i += 1u << len)
            fast_[i] = static_cast<std::uint16_t>(symbol << 4 | len);
    }
    return true;
}

int PrefixCode::DecodeSlow(std::uint32_t bits, unsigned &length) const
{
    int code = 0;
    int first = 0;
    int index = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        code |= static_cast<int>(bits & 1u);
        bits >>= 1;
        const int n = count_[len];
        if (code - first < n) {
            length = len;
            return symbols_[index + code - first];
        }
        index += n;
        first = (first + n) << 1;
        code <<= 1;
    }
    return -1;
}

} // namespace pellux::libs
