// Method 98, PPMd variant I revision 1 (APPNOTE 5.10): a 2-byte header, then the range
// coder's bytes. The stream ends with the entry's size; an end marker may come first.
#include "libs/pxunz/Decoder.h"
#include "libs/pxunz/PpmdModel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace pellux::libs {

namespace {

// One symbol reads a few bytes per context it escapes from, at most 17 contexts for
// the orders a header can give: decode only with this much input at hand until its end.
constexpr std::size_t kSymbolInput = 1024;
constexpr std::size_t kBufferSize = 64 * 1024;

struct TableDeleter {
    void operator()(unsigned char *p) const { FreeTable(p); }
};

class PpmdDecoder final : public Decoder {
public:
    explicit PpmdDecoder(const DecoderEntry &entry) : size_(entry.UncompressedSize) {}

    Status Decode(DecodeBuffers &b) override
    {
        Fill(b);
        if (produced_ == size_) {
            b.In += b.InLeft; // what follows the last symbol is the encoder's
            b.InLeft = 0;
            return Status::End;
        }
        const bool ends = b.InputEnds && b.InLeft == 0;
        if (!model_) {
            if (end_ - begin_ < 6 && !ends)
                return Status::Ok;
            if (!Start())
                return Status::Corrupt;
        }
        if (end_ - begin_ < kSymbolInput && !ends)
            return Status::Ok;
        // The model keeps its place in the buffer from symbol to symbol; a symbol starts
        // only with kSymbolInput bytes at hand, or the last of them.
        model_->In = buffer_ + begin_;
        model_->InEnd = buffer_ + end_;
        const unsigned char *const last = ends ? model_->InEnd : model_->InEnd - kSymbolInput;
        const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(b.OutLeft, size_ - produced_));
        unsigned char *out = b.Out;
        unsigned char *const outEnd = out + room;
        int symbol = 0;
        while (out != outEnd && model_->In <= last) {
            symbol = model_->DecodeSymbol();
            if (symbol < 0 || model_->Overrun)
                break;
            *out++ = static_cast<unsigned char>(symbol);
        }
        begin_ = static_cast<std::size_t>(model_->In - buffer_);
        produced_ += static_cast<std::size_t>(out - b.Out);
        b.OutLeft -= static_cast<std::size_t>(out - b.Out);
        b.Out = out;
        if (model_->Overrun) {
            problem_ = "corrupt PPMd data (cut short)";
            return Status::Corrupt;
        }
        if (symbol == ppmd::Model::kEndMarker)
            return Status::End;
        if (symbol < 0)
            return Status::Corrupt;
        return produced_ == size_ ? Status::End : Status::Ok;
    }

    std::string Problem() const override { return problem_; }

private:
    // Moves what input fits into the buffer, keeping the unread bytes.
    void Fill(DecodeBuffers &b)
    {
        if (begin_ > 0 && kBufferSize - end_ < b.InLeft) {
            std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        const std::size_t n = std::min(b.InLeft, kBufferSize - end_);
        if (n > 0)
            std::memcpy(buffer_ + end_, b.In, n);
        end_ += n;
        b.In += n;
        b.InLeft -= n;
    }

    bool Start()
    {
        if (end_ - begin_ < 6) {
            problem_ = "corrupt PPMd data (cut short)";
            return false;
        }
        const unsigned header = buffer_[begin_] | (buffer_[begin_ + 1] << 8);
        begin_ += 2;
        const unsigned order = (header & 0x0F) + 1;
        const std::uint32_t megabytes = ((header >> 4) & 0xFF) + 1;
        const unsigned restoration = header >> 12;
        if (order < 2) {
            problem_ = "corrupt PPMd data (model order 1)";
            return false;
        }
        if (restoration > ppmd::Model::kCutOff) {
            problem_ =
                "corrupt PPMd data (model restoration method " + std::to_string(restoration) + " is not valid in ZIP)";
            return false;
        }
        const std::uint32_t bytes = megabytes << 20;
        // Zero pages: those the model never reaches cost nothing.
        memory_.reset(static_cast<unsigned char *>(AllocTable(bytes)));
        if (!memory_)
            throw std::bad_alloc();
        model_.emplace(memory_.get(), bytes, order, static_cast<ppmd::Model::Restoration>(restoration));
        model_->In = buffer_ + begin_;
        model_->InEnd = buffer_ + end_;
        const bool valid = model_->StartDecoding();
        begin_ = static_cast<std::size_t>(model_->In - buffer_);
        return valid;
    }

    std::uint64_t size_;
    std::uint64_t produced_ = 0;
    std::unique_ptr<unsigned char, TableDeleter> memory_;
    std::optional<ppmd::Model> model_;
    unsigned char buffer_[kBufferSize];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::string problem_;
};

} // namespace

std::unique_ptr<Decoder> MakePpmdDecoder(const DecoderEntry &entry) { return std::make_unique<PpmdDecoder>(entry); }

} // namespace pellux::libs
