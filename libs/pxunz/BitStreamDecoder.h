#pragma once
// The frame of Pellux's own LZ-style decoders (Deflate64, implode, shrink, reduce): an
// input buffer read least significant bit first, and a circular output window that
// serves the back-references and is drained into the caller's buffer. Memory is fixed
// when the decoder is made; nothing grows with the entry.
#include "libs/pxunz/Decoder.h"

#include <endian.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace pellux::libs {

class BitStreamDecoder : public Decoder {
public:
    Status Decode(DecodeBuffers &buffers) final;

protected:
    // `windowBits`: the window holds 2^windowBits bytes. A subclass's Step may look back
    // at most half of it and write at most half of it per unit of work.
    explicit BitStreamDecoder(unsigned windowBits);

    // Decodes at least one unit (a symbol, a header) and goes on while Room(); End once
    // the stream is complete. Called only with kMargin bytes buffered, or all of them.
    virtual Status Step() = 0;

    // Worst case input of one unit of work; a unit that needs more checks Buffered().
    static constexpr std::size_t kMargin = 16 << 10;

    bool Room() const
    {
        return Pending() < windowSize_ / 4 && (inputEnded_ ? overrun_ * 8 <= bits_ : Buffered() >= kUnitBytes);
    }

    std::uint32_t Peek(unsigned n)
    {
        Fill(n);
        return static_cast<std::uint32_t>(bitBuf_ & ((std::uint64_t{1} << n) - 1));
    }
    void Drop(unsigned n)
    {
        bitBuf_ >>= n;
        bits_ -= n;
    }
    std::uint32_t Bits(unsigned n)
    {
        const std::uint32_t v = Peek(n);
        Drop(n);
        return v;
    }
    void AlignToByte() { Drop(bits_ % 8); }
    // Bytes still unread, counting the whole bytes in the bit buffer.
    std::size_t Buffered() const { return inEnd_ - inPos_ + bits_ / 8; }
    bool InputEnded() const { return inputEnded_; }

    void Put(unsigned char c) { window_[pos_++ & mask_] = c; }
    // Copies `length` bytes from `distance` back; before the start the window reads as
    // zeros, which old methods rely on.
    void Copy(std::uint32_t distance, std::uint32_t length)
    {
        const std::size_t to = static_cast<std::size_t>(pos_ & mask_);
        const std::size_t from = static_cast<std::size_t>((pos_ - distance) & mask_);
        // Apart, and neither end wraps: one block copy.
        if (distance >= length && to + length <= windowSize_ && from + length <= windowSize_) {
            std::memcpy(window_.get() + to, window_.get() + from, length);
            pos_ += length;
            return;
        }
        std::uint64_t at = pos_ - distance;
        for (std::uint32_t i = 0; i < length; ++i)
            window_[pos_++ & mask_] = window_[at++ & mask_];
    }
    std::uint64_t Produced() const { return pos_; }
    // Moves up to `n` input bytes as they are into the window, at most a quarter of it;
    // the input must be at a byte boundary. Returns how many; 0 when none are buffered.
    std::size_t PutBytes(std::size_t n);

private:
    static constexpr std::size_t kInSize = 64 << 10;
    static constexpr std::size_t kUnitBytes = 64; // more than one symbol of any method

    void Fill(unsigned n)
    {
        if (bits_ >= n)
            return;
        if (inEnd_ - inPos_ >= 8) {
            // Whole bytes up to 56 bits or more at once.
            std::uint64_t word = 0;
            std::memcpy(&word, in_.get() + inPos_, 8);
            word = le64toh(word);
            bitBuf_ |= word << bits_;
            const unsigned take = (63 - bits_) / 8;
            inPos_ += take;
            bits_ += take * 8;
            bitBuf_ &= (std::uint64_t{1} << bits_) - 1; // bits_ <= 63
            return;
        }
        while (bits_ < n) {
            // Past the end the stream reads as zeros; Decode notices if any were used.
            const std::uint64_t byte = inPos_ < inEnd_ ? in_[inPos_++] : (++overrun_, 0u);
            bitBuf_ |= byte << bits_;
            bits_ += 8;
        }
    }
    std::uint64_t Pending() const { return pos_ - flushed_; }
    void TakeInput(DecodeBuffers &b);
    void Flush(DecodeBuffers &b);

    std::unique_ptr<unsigned char[]> in_;
    std::size_t inPos_ = 0;
    std::size_t inEnd_ = 0;
    std::uint64_t bitBuf_ = 0;
    unsigned bits_ = 0;
    unsigned overrun_ = 0; // zero bytes added after the end of the input
    bool inputEnded_ = false;

    std::size_t windowSize_;
    std::uint64_t mask_;
    std::unique_ptr<unsigned char[]> window_;
    std::uint64_t pos_ = 0;
    std::uint64_t flushed_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

} // namespace pellux::libs
