#include "listing/ListingRows.h"

namespace pellux {

void FillRows(const TZipEngine &engine, ListingBuilder &builder, const std::function<void(ListRow &&)> &sink)
{
    const std::int32_t count = engine.EntryCount();
    const auto &entries = engine.DirEntries();
    for (std::int32_t i = 0; i < count; ++i) {
        const ZipDirEntry &entry = entries[static_cast<std::size_t>(i)];
        sink(builder.AddListRow(entry.FileName, entry.Name(), entry.CompressedSize, ListDateTimeOf(entry.DosDateTime),
                                entry.UncompressedSize));
    }
}

} // namespace pellux
