#include "listing/ListingRows.h"

namespace pellux {

void FillRows(const TZipEngine &engine, ListingBuilder &builder, const std::function<void(ListRow &&)> &sink)
{
    const std::int32_t count = engine.EntryCount();
    const auto &entries = engine.DirEntries();
    // One row's strings serve them all; a sink that moves from it leaves strings to refill.
    ListRow row;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZipDirEntry &entry = entries[static_cast<std::size_t>(i)];
        builder.FillListRow(row, entry.FileName(), entry.Name(), entry.CompressedSize, ListDateTimeOf(entry.DosDateTime),
                            entry.UncompressedSize);
        sink(std::move(row));
    }
}

} // namespace pellux
