#include "util/KeptBytes.h"

#include <algorithm>

namespace pellux {

char *KeptBytes::Allocate(std::size_t size)
{
    constexpr std::size_t kBlock = 1 << 20;
    if (size > room_) {
        const std::size_t block = std::max(size, kBlock);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
        free_ = blocks_.back().get();
        room_ = block;
    }
    char *at = free_;
    free_ += size;
    room_ -= size;
    return at;
}

const char *KeptBytes::Keep(std::string_view a, std::string_view b)
{
    char *at = Allocate(a.size() + b.size());
    std::copy(a.begin(), a.end(), at);
    std::copy(b.begin(), b.end(), at + a.size());
    return at;
}

void KeptBytes::Clear()
{
    blocks_.clear();
    blocks_.shrink_to_fit();
    free_ = nullptr;
    room_ = 0;
}

} // namespace pellux
