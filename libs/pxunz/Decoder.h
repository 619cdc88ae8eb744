#pragma once
// One compression method's decoder, fed an entry's compressed bytes and drained of its
// output in pieces, so that no entry is ever held whole in memory. Each method lives in
// a file of its own; MakeDecoder knows them all.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pellux::libs {

struct DecodeBuffers {
    const unsigned char *In = nullptr;
    std::size_t InLeft = 0;
    unsigned char *Out = nullptr;
    std::size_t OutLeft = 0;
    bool InputEnds = false; // `In` holds the last of the entry's compressed bytes
};

class Decoder {
public:
    enum class Status {
        Ok,      // consumed or produced what it could; call again
        End,     // the stream is complete
        Corrupt, // the data is not a valid stream of this method
    };
    virtual ~Decoder() = default;
    // Consumes from In and fills Out, advancing both.
    virtual Status Decode(DecodeBuffers &buffers) = 0;
    // After Corrupt, a reason more precise than "corrupt data", if there is one.
    virtual std::string Problem() const { return std::string(); }
};

// Zeroed memory for a decoder's large tables (a model, a dictionary, a block's
// permutation), read at random: in 2 MiB pages where the system gives them, so that
// the reads miss the TLB far less often. Freed with FreeTable; nullptr when there is
// no memory.
void *AllocTable(std::size_t size);
void FreeTable(void *table);

// What a decoder may need to know of its entry.
struct DecoderEntry {
    std::uint16_t Method = 0;
    std::uint16_t Flags = 0;
    std::uint64_t UncompressedSize = 0;
};

// nullptr when Pellux cannot decode the method.
std::unique_ptr<Decoder> MakeDecoder(const DecoderEntry &entry);

// The method's usual name ("deflate", "bzip2"), or "unknown".
std::string MethodName(std::uint16_t method);

// "unsupported compression method N (name)", without the name where it has none.
std::string UnsupportedMethod(std::uint16_t method);

// One factory per method file.
std::unique_ptr<Decoder> MakeInflateDecoder();
std::unique_ptr<Decoder> MakeBzip2Decoder();
std::unique_ptr<Decoder> MakeLzmaDecoder(const DecoderEntry &entry);
std::unique_ptr<Decoder> MakeXzDecoder();
std::unique_ptr<Decoder> MakeDeflate64Decoder();
std::unique_ptr<Decoder> MakeZstdDecoder();
std::unique_ptr<Decoder> MakeImplodeDecoder(const DecoderEntry &entry);
std::unique_ptr<Decoder> MakeShrinkDecoder(const DecoderEntry &entry);
std::unique_ptr<Decoder> MakeReduceDecoder(const DecoderEntry &entry);
std::unique_ptr<Decoder> MakePpmdDecoder(const DecoderEntry &entry);

} // namespace pellux::libs
