// Method 14 (LZMA): our decoder against the source and against liblzma's decoder, on
// streams written by 7z and by Python's zipfile and lzma, fed in pieces of every size
// into small and large output buffers; damaged and cut copies must decode as liblzma
// decodes them; hostile headers and declared sizes.
#include "libs/pxunz/Decoder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <lzma.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace pellux::test {
namespace {

using libs::Decoder;

struct Stream {
    std::string Name;
    std::uint16_t Flags = 0;
    std::string Data; // as in the archive: version, properties size, properties, stream
    std::string Source;
    bool Liblzma = true; // liblzma decodes only lc + lp <= 4
};

// The entries: archives by 7z and zipfile, raw streams by Python's lzma (the .lzma
// format's stream given a ZIP header). Prints one line per stream: name, flags.
const char kMakeStreams[] = R"PY(
import lzma, random, struct, subprocess, sys, zipfile
r = random.Random(5)
words = [bytes(r.choice(b"etaoinshrdlu") for _ in range(r.randint(2, 9))) for _ in range(3000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(r.choices(words, k=2000)) + r.randbytes(r.randint(0, 3000))
    return bytes(out[:n])
sources = {"text": text(1500000), "small": text(70000), "random": r.randbytes(300000),
           "runs": b"\0" * 1000000 + b"ab" * 300000 + text(10000), "empty": b"", "tiny": b"a"}
for name, data in sources.items():
    open(name, "wb").write(data)
def emit(name, source, flags, data):
    open(name + ".raw", "wb").write(data)
    open(name + ".src", "wb").write(sources[source])
    print(name, flags)
def from_zip(name, source):
    with zipfile.ZipFile(name + ".zip") as z:
        info = z.infolist()[0]
    assert info.compress_type == 14, name
    f = open(name + ".zip", "rb")
    f.seek(info.header_offset + 26)
    n, e = struct.unpack("<HH", f.read(4))
    f.seek(info.header_offset + 30 + n + e)
    emit(name, source, info.flag_bits, f.read(info.compress_size))
for name, source, options in [
        ("7z-mx1", "text", "-mx=1"), ("7z-mx9", "text", "-mx=9"),
        ("7z-noeos", "text", "-mm=LZMA:eos=off"), ("7z-wrap", "text", "-mm=LZMA:d=64k"),
        ("7z-lc4", "small", "-mm=LZMA:lc=4:lp=0"), ("7z-lp2", "small", "-mm=LZMA:lc=0:lp=2:pb=0"),
        ("7z-lc8", "small", "-mm=LZMA:lc=8:lp=4:pb=0"), ("7z-runs", "runs", "")]:
    subprocess.run("7z a -tzip -mm=LZMA %s -bd -bso0 %s.zip %s" % (options, name, source), shell=True, check=True)
    from_zip(name, source)
for name, source in [("py-text", "text"), ("py-random", "random"), ("py-tiny", "tiny"), ("py-empty", "empty")]:
    with zipfile.ZipFile(name + ".zip", "w", zipfile.ZIP_LZMA) as z:
        z.write(source)
    from_zip(name, source)
# A 4 KiB dictionary wraps hundreds of times; long matches; every lc/lp/pb field set.
lzma1 = {"id": lzma.FILTER_LZMA1, "dict_size": 4096, "lc": 1, "lp": 3, "pb": 4, "nice_len": 273}
emit("raw-4k", "text", 2, b"\x09\x14\x05\x00" + lzma._encode_filter_properties(lzma1)
     + lzma.compress(sources["text"], format=lzma.FORMAT_RAW, filters=[lzma1]))
alone = lzma.compress(sources["runs"], format=lzma.FORMAT_ALONE, preset=9)
emit("alone", "runs", 2, b"\x09\x14\x05\x00" + alone[:5] + alone[13:])
)PY";

const std::vector<Stream> &Streams()
{
    static const std::vector<Stream> streams = [] {
        TempDir dir;
        std::string listing;
        const int status = RunShell("cd " + Quote(dir.Path().string()) + " && python3 - <<'EOF'\n"
                                        + std::string(kMakeStreams) + "EOF\n",
                                    &listing);
        EXPECT_EQ(status, 0);
        std::vector<Stream> all;
        std::istringstream lines(listing);
        Stream s;
        while (lines >> s.Name >> s.Flags) {
            s.Data = ReadFile(dir.File(s.Name + ".raw"));
            s.Source = ReadFile(dir.File(s.Name + ".src"));
            s.Liblzma = s.Name != "7z-lc8";
            all.push_back(s);
        }
        EXPECT_EQ(all.size(), 14u);
        return all;
    }();
    return streams;
}

struct Outcome {
    bool Complete = false; // End, with the declared size
    std::string Out;
    std::string Problem;
};

// Our decoder, given the input in pieces of 1..`maxPiece` bytes (all at once for 0)
// and `outSize` bytes of room per call.
Outcome Own(const std::string &data, std::uint16_t flags, std::uint64_t size, std::size_t maxPiece, std::size_t outSize,
            unsigned seed = 1)
{
    const auto decoder = libs::MakeDecoder(libs::DecoderEntry{14, flags, size});
    std::mt19937 rng(seed);
    std::vector<unsigned char> buffer(outSize);
    const auto *in = reinterpret_cast<const unsigned char *>(data.data());
    std::size_t given = 0;
    libs::DecodeBuffers b;
    Outcome result;
    for (;;) {
        if (b.InLeft == 0 && given < data.size()) {
            b.In = in + given;
            b.InLeft = std::min(data.size() - given, maxPiece == 0 ? data.size() : 1 + rng() % maxPiece);
            given += b.InLeft;
        }
        b.InputEnds = given == data.size();
        b.Out = buffer.data();
        b.OutLeft = outSize;
        const std::size_t inBefore = b.InLeft;
        const Decoder::Status status = decoder->Decode(b);
        result.Out.append(reinterpret_cast<const char *>(buffer.data()), outSize - b.OutLeft);
        EXPECT_LE(result.Out.size(), size);
        if (status != Decoder::Status::Ok || result.Out.size() > size) {
            result.Complete = status == Decoder::Status::End && result.Out.size() == size;
            result.Problem = decoder->Problem();
            return result;
        }
        if (b.OutLeft == outSize && b.InLeft == inBefore && b.InputEnds)
            return result; // cut short
    }
}

// liblzma's decoder, as Pellux used it: the dictionary no larger than the entry, an
// end marker allowed, the declared size known.
Outcome Liblzma(const std::string &data, std::uint64_t size)
{
    Outcome result;
    const auto *in = reinterpret_cast<const std::uint8_t *>(data.data());
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (data.size() < 9 || lzma_properties_decode(&filters[0], nullptr, in + 4, 5) != LZMA_OK)
        return result;
    auto *options = static_cast<lzma_options_lzma *>(filters[0].options);
    options->dict_size = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(LZMA_DICT_SIZE_MIN, std::min<std::uint64_t>(options->dict_size, size)));
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(*options, size);
    lzma_stream stream = LZMA_STREAM_INIT;
    const lzma_ret init = lzma_raw_decoder(&stream, filters);
    std::free(options);
    if (init != LZMA_OK)
        return result;
    stream.next_in = in + 9;
    stream.avail_in = data.size() - 9;
    std::vector<std::uint8_t> buffer(1 << 16);
    lzma_ret ret;
    do {
        stream.next_out = buffer.data();
        stream.avail_out = buffer.size();
        ret = lzma_code(&stream, LZMA_FINISH);
        result.Out.append(reinterpret_cast<const char *>(buffer.data()), buffer.size() - stream.avail_out);
    } while (ret == LZMA_OK);
    lzma_end(&stream);
    result.Complete = ret == LZMA_STREAM_END && result.Out.size() == size;
    return result;
}

TEST(LzmaDecoder, DecodesWhatSevenZipAndPythonWriteInPiecesOfAnySize)
{
    for (const Stream &s : Streams()) {
        SCOPED_TRACE(s.Name);
        const std::uint64_t size = s.Source.size();
        if (s.Liblzma) {
            const Outcome reference = Liblzma(s.Data, size);
            EXPECT_TRUE(reference.Complete && reference.Out == s.Source);
        }
        // Whole; pieces up to 64 KiB into the extractor's buffer; up to 40 bytes into
        // 1000; then single bytes, and one byte of room per call, on the shorter ones.
        struct Feed {
            std::size_t MaxPiece, OutSize;
        };
        std::vector<Feed> feeds = {{0, 1 << 20}, {1 << 16, 256 << 10}, {40, 1000}};
        if (s.Data.size() < (100 << 10))
            feeds.insert(feeds.end(), {{1, 4096}, {300, 1}});
        for (const Feed &feed : feeds) {
            const Outcome own = Own(s.Data, s.Flags, size, feed.MaxPiece, feed.OutSize);
            EXPECT_TRUE(own.Complete && own.Out == s.Source) << feed.MaxPiece << " in, " << feed.OutSize << " out";
        }
    }
}

// Without a check of its own, a damaged stream mostly decodes to other bytes: the
// same ones liblzma gives, up to where either finds it corrupt.
TEST(LzmaDecoder, DamagedAndCutStreamsDecodeAsLiblzmaDecodesThem)
{
    std::mt19937 rng(11);
    for (const Stream &s : Streams()) {
        if (!s.Liblzma || s.Data.size() <= 14 || s.Data.size() > (600 << 10))
            continue;
        SCOPED_TRACE(s.Name);
        for (int round = 0; round < 24; ++round) {
            std::string data = s.Data;
            if (round % 4 == 3) {
                data.resize(14 + rng() % (data.size() - 14));
            } else {
                for (int i = 0; i <= round % 3; ++i)
                    data[14 + rng() % (data.size() - 14)] ^= static_cast<char>(1 + rng() % 255);
            }
            const std::uint64_t size = s.Source.size();
            const Outcome reference = Liblzma(data, size);
            const Outcome own = Own(data, s.Flags, size, 1 + rng() % 5000, 1000, round);
            SCOPED_TRACE(round);
            EXPECT_EQ(own.Complete, reference.Complete);
            const std::size_t common = std::min(own.Out.size(), reference.Out.size());
            EXPECT_TRUE(own.Out.compare(0, common, reference.Out, 0, common) == 0);
            if (own.Complete && reference.Complete) {
                EXPECT_TRUE(own.Out == reference.Out);
            }
        }
    }
}

TEST(LzmaDecoder, HoldsToTheDeclaredSizeAndRejectsBadHeaders)
{
    const auto find = [](const std::string &name) {
        for (const Stream &s : Streams())
            if (s.Name == name)
                return s;
        ADD_FAILURE() << name;
        return Stream();
    };
    // A declared size short of the stream: no byte more than it, and corrupt, with or
    // without an end marker. A marker short of the declared size is corrupt too.
    for (const char *name : {"7z-noeos", "py-text", "py-tiny"}) {
        const Stream s = find(name);
        SCOPED_TRACE(name);
        const Outcome own = Own(s.Data, s.Flags, s.Source.size() - 1, 0, 256 << 10);
        EXPECT_FALSE(own.Complete);
        EXPECT_TRUE(own.Out == s.Source.substr(0, own.Out.size()));
    }
    const Stream marked = find("py-text");
    EXPECT_FALSE(Own(marked.Data, marked.Flags, marked.Source.size() + 1, 0, 256 << 10).Complete);
    EXPECT_FALSE(Liblzma(marked.Data, marked.Source.size() + 1).Complete);
    Stream s = find("7z-lc4");
    // A dictionary of 4 GiB on a small entry costs no more than the entry.
    s.Data.replace(5, 4, "\xff\xff\xff\xff");
    EXPECT_TRUE(Own(s.Data, s.Flags, s.Source.size(), 0, 256 << 10).Out == s.Source);
    const Outcome huge = Own(s.Data, s.Flags, 2ull << 30, 0, 256 << 10);
    EXPECT_EQ(huge.Problem, "it needs more than 1 GiB of memory");
    EXPECT_TRUE(huge.Out.empty());
    // Properties of 4 bytes; lc/lp/pb past 8/4/4; a range coder not starting with 0;
    // a header cut short.
    for (const auto &[at, bytes] :
         std::vector<std::pair<std::size_t, std::string>>{{2, std::string("\x04", 1)}, {4, "\xe1"}, {9, "\x01"}}) {
        std::string bad = s.Data;
        bad.replace(at, bytes.size(), bytes);
        const Outcome own = Own(bad, s.Flags, s.Source.size(), 0, 1000);
        EXPECT_FALSE(own.Complete) << at;
        EXPECT_TRUE(own.Out.empty()) << at;
    }
    EXPECT_FALSE(Own(s.Data.substr(0, 12), s.Flags, s.Source.size(), 0, 1000).Complete);
}

} // namespace
} // namespace pellux::test
