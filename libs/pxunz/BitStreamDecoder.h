#pragma once
// The frame of Pellux's own LZ-style decoders (Deflate64, implode, shrink, reduce): an
// input buffer read least significant bit first, and a circular output window that
// serves the back-references and is drained into the caller's buffer. Memory is fixed
// when the decoder is made; nothing grows with the entry.
#include "libs/pxunz/Decoder.h"

#include <cstdint>
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
        std::uint64_t from = pos_ - distance;
        for (std::uint32_t i = 0; i < length; ++i)
            window_[pos_++ & mask_] = window_[from++ & mask_];
    }
    std::uint64_t Produced() const { return pos_; }

private:
    static constexpr std::size_t kInSize = 64 << 10;
    static constexpr std::size_t kUnitBytes = 64; // more than one symbol of any method

    void Fill(unsigned n)
    {
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
