#include "listing/ListingRows.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace pellux {

void FillRows(const TZipEngine &engine, ListingBuilder &builder, const std::function<void(ListRow &&)> &sink)
{
    const std::int32_t count = engine.EntryCount();
    const auto &entries = engine.DirEntries();
    // One row's strings serve them all; a sink that moves from it leaves strings to refill.
    ListRow row;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZipDirEntry &entry = entries[static_cast<std::size_t>(i)];
        builder.FillListRow(row, entry.FileName(), entry.Name(), entry.CompressedSize,
                            ListDateTimeOf(entry.DosDateTime), entry.UncompressedSize);
        sink(std::move(row));
    }
}

namespace {

class NoRows final : public ListingSource {
public:
    std::size_t Count() const override { return 0; }
    std::string_view Part(std::size_t, int) const override { return {}; }
    bool Encrypted(std::size_t) const override { return false; }
    std::string_view Warning(std::size_t) const override { return {}; }
    bool AnyMarked() const override { return false; }
};

class EngineRows final : public ListingSource {
public:
    EngineRows(const TZipEngine &engine, const ListingBuilder &builder)
        : entries_(engine.SharedDirEntries()), count_(static_cast<std::size_t>(engine.EntryCount())),
          warnings_(engine.EntryWarnings()), builder_(builder)
    {
        anyMarked_ = !warnings_.empty()
            || std::any_of(entries_->begin(), entries_->begin() + static_cast<std::ptrdiff_t>(count_),
                           [](const ZipDirEntry &e) { return e.Encrypted(); });
    }
    std::size_t Count() const override { return count_; }
    std::string_view Part(std::size_t row, int part) const override
    {
        const ZipDirEntry &e = (*entries_)[row];
        if (part == 0)
            return e.FileName();
        if (row != row_) {
            row_ = row;
            made_ = 0;
        }
        const auto column = static_cast<std::size_t>(part - 1);
        if (!(made_ & (1u << column))) {
            const bool dated = part - 1 == ColDate || part - 1 == ColTime;
            builder_.FillColumn(texts_[column], part - 1, e.FileName(), e.Name(), e.CompressedSize,
                                dated ? ListDateTimeOf(e.DosDateTime) : ListDateTime(), e.UncompressedSize);
            made_ |= 1u << column;
        }
        return texts_[column];
    }
    bool Encrypted(std::size_t row) const override { return (*entries_)[row].Encrypted(); }
    std::string_view Warning(std::size_t row) const override
    {
        const auto at = std::lower_bound(warnings_.begin(), warnings_.end(), row,
                                         [](const ListReport::EntryWarning &w, std::size_t i) { return w.Entry < i; });
        return at != warnings_.end() && at->Entry == row ? std::string_view(at->Why) : std::string_view();
    }
    bool AnyMarked() const override { return anyMarked_; }
    // The texts of the row last asked for are each reader's own.
    std::unique_ptr<const ListingSource> Reader() const override { return std::make_unique<EngineRows>(*this); }

private:
    std::shared_ptr<const ZipEntryList> entries_;
    std::size_t count_;
    std::vector<ListReport::EntryWarning> warnings_; // by ascending entry index
    bool anyMarked_ = false;
    // The texts of the row last asked for, made column by column.
    mutable ListingBuilder builder_;
    mutable std::size_t row_ = SIZE_MAX;
    mutable unsigned made_ = 0;
    mutable std::array<std::string, kListColumnCount> texts_;
};

} // namespace

std::shared_ptr<const ListingSource> EmptyRows()
{
    static const auto none = std::make_shared<const NoRows>();
    return none;
}

std::shared_ptr<const ListingSource> EntryRows(const TZipEngine &engine, const ListingBuilder &builder)
{
    return std::make_shared<const EngineRows>(engine, builder);
}

} // namespace pellux
