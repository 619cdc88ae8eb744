#pragma once
// Deflate on every core. A job is a whole small file or one chunk of a large file,
// primed with the 32 KiB before it and ended by a sync flush, so that the chunks joined
// in order make one deflate stream. zlib does it, at the level asked: its match search
// is the one zip's levels stand for, so no file comes out larger than zip makes it
// (libdeflate's levels up to 9 are faster, but their guess of a minimum match length
// costs a fifth on some files, such as a column of numbers). At levels 8 and 9 chunks
// go to libdeflate where it is both faster and smaller: its near-optimal level for data
// of few byte values and for binaries, its lazy one for a file where a trial on the
// first chunk comes out smaller. Its chunks are not primed, and each ends as a sync
// flush would. At every level a file's start spread like noise is first tried with
// libdeflate's fastest level, so that a file to be stored costs little. Each worker
// keeps its streams from job to job. Chunks are cut by size alone, so the output is the
// same whatever the number of workers. The workers also derive the keys of encrypted
// entries: that costs more than compressing a small file.
#include "libs/common/WinZipAes.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pellux::libs {

struct DeflateJob {
    std::string Input;
    std::string Dictionary; // the input's last 32 KiB before this chunk; empty at a start
    bool Last = false;      // the stream's last chunk
    // 0: zlib, primed with Dictionary. Else libdeflate at that level, unprimed, its final
    // block reopened unless Last (zlib again if that fails). Data of few byte values, and
    // binaries, take libdeflate's near-optimal level whatever this says.
    int Libdeflate = 0;
    int LibdeflateAfter = 0; // set on a file's first chunk: what the chunks after it take
    std::string Output;
    std::uint32_t Crc32 = 0; // of Input
    bool Failed = false;     // out of memory
    bool Done = false;
};

// CRC-32 of `length` bytes, going on from `crc` (0 at the start).
std::uint32_t Crc32(std::uint32_t crc, const void *data, std::size_t length);

// One encrypted entry's salt (fresh from the system) and its keys from the password.
struct KeyJob {
    static constexpr std::uint8_t kStrength = 3; // AES-256
    std::string_view Password;                   // lives as long as the job
    unsigned char Salt[16];
    unsigned char Verifier[kAesVerifierSize];
    std::unique_ptr<AesCipher> Cipher = std::make_unique<AesCipher>();
    bool Ok = false;
    bool Done = false;
};

class Compressor {
public:
    // Each chunk's end costs a block header and a sync flush, some 18 bytes: on data
    // that compresses a thousandfold (zeros) that is 0.4 % at 4 MiB, 1.7 % at 1 MiB.
    static constexpr std::size_t kChunk = 4 << 20;
    // A file's first chunk tells whether the rest is compressed: small, so that little
    // work goes into a file that does not compress.
    static constexpr std::size_t kFirstChunk = 1 << 20;
    static constexpr std::size_t kWindow = 32 << 10;

    // `workers` 0 takes PELLUX_ZIP_WORKERS from the environment, else one per core.
    Compressor(int level, unsigned workers = 0);
    ~Compressor(); // waits for the jobs started; those not started are dropped
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;

    unsigned Workers() const { return static_cast<unsigned>(threads_.size()); }
    // The job must live until Wait returns for it or the compressor is gone.
    void Submit(DeflateJob *job);
    void Submit(KeyJob *job);
    // False when the job is still running after `timeout`.
    bool WaitFor(DeflateJob *job, std::chrono::milliseconds timeout);
    bool WaitFor(KeyJob *job, std::chrono::milliseconds timeout);

private:
    void Run();

    int level_;
    std::mutex mutex_;
    std::condition_variable work_, done_;
    struct Work {
        DeflateJob *Deflate;
        KeyJob *Key;
    };
    std::deque<Work> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace pellux::libs
