// The usual names of ZIP's compression methods, for listings and messages.
#include "util/ZipRecords.h"

namespace pellux {

std::string CompressionMethodName(std::uint16_t method)
{
    // APPNOTE 4.4.5.
    switch (method) {
    case 0:
        return "stored";
    case 1:
        return "shrink";
    case 2:
    case 3:
    case 4:
    case 5:
        return "reduce";
    case 6:
        return "implode";
    case 7:
        return "tokenizing";
    case 8:
        return "deflate";
    case 9:
        return "Deflate64";
    case 10:
        return "PKWARE DCL implode";
    case 12:
        return "bzip2";
    case 14:
        return "LZMA";
    case 16:
        return "IBM z/OS CMPSC";
    case 18:
        return "IBM TERSE";
    case 19:
        return "IBM LZ77";
    case 20:
    case 93:
        return "zstd";
    case 94:
        return "MP3";
    case 95:
        return "xz";
    case 96:
        return "JPEG";
    case 97:
        return "WavPack";
    case 98:
        return "PPMd";
    case 99:
        return "AES encryption";
    default:
        return "unknown";
    }
}

} // namespace pellux
