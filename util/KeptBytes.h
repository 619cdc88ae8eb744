#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace pellux {

// Bytes that stay where they are written until Clear: the names of a million entries
// in a few dozen blocks rather than a million allocations. A copy starts empty: what
// points into the bytes copies them when it is copied.
class KeptBytes {
public:
    KeptBytes() = default;
    KeptBytes(const KeptBytes &) {}
    KeptBytes &operator=(const KeptBytes &) { return *this; }
    KeptBytes(KeptBytes &&) noexcept = default;
    KeptBytes &operator=(KeptBytes &&) noexcept = default;

    // Room for `size` bytes, not yet written.
    char *Allocate(std::size_t size);
    // Whether `size` more bytes would follow directly on `end`, where the last
    // allocation ends.
    bool Continues(const char *end, std::size_t size) const { return end == free_ && size <= room_; }
    // A copy of `a` followed by `b`.
    const char *Keep(std::string_view a, std::string_view b);
    void Clear();

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char *free_ = nullptr;
    std::size_t room_ = 0;
};

} // namespace pellux
