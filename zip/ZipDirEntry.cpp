#include "zip/ZipDirEntry.h"

#include "util/LittleEndian.h"

namespace pellux {

void ZipDirEntry::DecodeFixed(const unsigned char (&fixed)[kFixedSize])
{
    VersionNeeded = le::U16(fixed + 0);
    GeneralPurposeFlag = le::U16(fixed + 2);
    CompressionMethod = le::U16(fixed + 4);
    DosDateTime = le::U32(fixed + 6);
    Crc32 = le::U32(fixed + 10);
    CompressedSize = le::U32(fixed + 14);
    UncompressedSize = le::U32(fixed + 18);
    FileNameLength = le::U16(fixed + 22);
    ExtraFieldLength = le::U16(fixed + 24);
}

} // namespace pellux
