#pragma once
// Option sets, progress kinds and event types of the archive component.
#include "util/Secret.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pellux {

class TZipEngine;

enum AddOptsEnum : std::uint8_t {
    AddDirNames = 0,
    AddRecurseDirs = 1,
    AddMove = 2,
    AddFreshen = 3,
    AddUpdate = 4,
    AddZipTime = 5,
    AddForceDOS = 6,
    AddHiddenFiles = 7,
};

enum ExtrOptsEnum : std::uint8_t {
    ExtrDirNames = 0,
    ExtrOverWrite = 1,
    ExtrFreshen = 2,
    ExtrUpdate = 3,
};

// A set of enum values held in one byte, bit n for value n.
template <class Enum>
class ByteSet {
public:
    constexpr ByteSet() = default;
    constexpr ByteSet(std::initializer_list<Enum> values)
    {
        for (Enum v : values)
            Include(v);
    }
    constexpr bool Contains(Enum v) const { return (bits_ >> static_cast<unsigned>(v)) & 1u; }
    constexpr void Include(Enum v) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << static_cast<unsigned>(v))); }
    constexpr void Exclude(Enum v) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << static_cast<unsigned>(v))); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const ByteSet &) const = default;

private:
    std::uint8_t bits_ = 0;
};

using AddOpts = ByteSet<AddOptsEnum>;
using ExtrOpts = ByteSet<ExtrOptsEnum>;
static_assert(sizeof(AddOpts) == 1 && sizeof(ExtrOpts) == 1);

enum ProgressType : std::uint8_t {
    ProgrFile = 0,
    ProgrStep = 1,
    ProgrEnd = 2,
};

using TNotifyEvent = std::function<void(TZipEngine &Sender)>;
using TProgressEvent =
    std::function<void(TZipEngine &Sender, ProgressType ProgrType, const std::string &Filename, std::int32_t FileSize)>;
// Asked when a library needs a password to read Entry (its name as messages show it):
// Again is false for the operation's first request and true when no password given so
// far opens the entry. Returns false when the user declines; else Password holds one.
using TPasswordEvent = std::function<bool(TZipEngine &Sender, const std::string &Entry, bool Again, Secret &Password)>;
using TMessageEvent = std::function<void(TZipEngine &Sender, std::int32_t ErrCode, const std::string &Message)>;

} // namespace pellux
