#include "libs/pxunz/BitStreamDecoder.h"

#include <algorithm>
#include <cstring>

namespace pellux::libs {

BitStreamDecoder::BitStreamDecoder(unsigned windowBits)
    : in_(new unsigned char[kInSize]), windowSize_(std::size_t{1} << windowBits), mask_(windowSize_ - 1),
      window_(new unsigned char[windowSize_]())
{
}

std::size_t BitStreamDecoder::PutBytes(std::size_t n)
{
    n = std::min(n, windowSize_ / 4);
    std::size_t done = 0;
    for (; done < n && bits_ >= 8; ++done) {
        Put(static_cast<unsigned char>(bitBuf_));
        Drop(8);
    }
    while (done < n && inPos_ < inEnd_) {
        const std::size_t at = static_cast<std::size_t>(pos_ & mask_);
        const std::size_t k = std::min({n - done, inEnd_ - inPos_, windowSize_ - at});
        std::memcpy(window_.get() + at, in_.get() + inPos_, k);
        inPos_ += k;
        pos_ += k;
        done += k;
    }
    return done;
}

void BitStreamDecoder::TakeInput(DecodeBuffers &b)
{
    if (inPos_ > 0 && inEnd_ - inPos_ < kMargin) {
        std::memmove(in_.get(), in_.get() + inPos_, inEnd_ - inPos_);
        inEnd_ -= inPos_;
        inPos_ = 0;
    }
    const std::size_t n = std::min(b.InLeft, kInSize - inEnd_);
    if (n > 0) // an entry of no compressed bytes comes without a buffer
        std::memcpy(in_.get() + inEnd_, b.In, n);
    inEnd_ += n;
    b.In += n;
    b.InLeft -= n;
    inputEnded_ = b.InputEnds && b.InLeft == 0;
}

void BitStreamDecoder::Flush(DecodeBuffers &b)
{
    while (Pending() > 0 && b.OutLeft > 0) {
        const std::size_t at = static_cast<std::size_t>(flushed_ & mask_);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({Pending(), b.OutLeft, static_cast<std::uint64_t>(windowSize_ - at)}));
        std::memcpy(b.Out, window_.get() + at, n);
        b.Out += n;
        b.OutLeft -= n;
        flushed_ += n;
    }
}

Decoder::Status BitStreamDecoder::Decode(DecodeBuffers &b)
{
    if (failed_)
        return Status::Corrupt;
    for (;;) {
        Flush(b);
        if (Pending() > 0)
            return Status::Ok;
        if (finished_)
            return Status::End;
        TakeInput(b);
        if (!inputEnded_ && Buffered() < kMargin)
            return Status::Ok;
        const Status status = Step();
        // Bits taken from past the end: the stream was cut short.
        if (status == Status::Corrupt || overrun_ * 8 > bits_) {
            failed_ = true;
            return Status::Corrupt;
        }
        finished_ = status == Status::End;
    }
}

} // namespace pellux::libs
