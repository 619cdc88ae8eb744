// Feeds arbitrary bytes to the entry-list reader (which holds the local headers against
// the central directory) and turns what it read into listing rows. Read errors are expected; crashes, hangs and
// sanitizer reports are not.
#include "listing/ListingText.h"
#include "platform/Exceptions.h"
#include "zip/ByteStream.h"
#include "zip/ZipListReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    pellux::MemoryStream stream(data, size);
    pellux::ZipEntryList entries;
    try {
        pellux::ReadEntryList(stream, entries);
    } catch (const pellux::EStreamError &) {
    }
    pellux::ListingBuilder builder('/', ':');
    for (const auto &entry : entries) {
        const auto row = builder.AddListRow(entry.FileName(), entry.Name(), entry.CompressedSize,
                                            pellux::ListDateTimeOf(entry.DosDateTime), entry.UncompressedSize);
        for (int column = 0; column < pellux::kListColumnCount; ++column)
            (void)pellux::SortKeyOf(row, column);
    }
    return 0;
}
