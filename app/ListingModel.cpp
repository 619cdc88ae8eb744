#include "app/ListingModel.h"

#include "app/Glyphs.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace pellux {

namespace {
constexpr std::size_t kBlockSize = 1 << 20;
}

char *ListingModel::Allocate(std::size_t size)
{
    if (size > blockFree_) {
        const std::size_t blockSize = std::max(size, kBlockSize);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize));
        blockNext_ = blocks_.back().get();
        blockFree_ = blockSize;
    }
    char *at = blockNext_;
    blockNext_ += size;
    blockFree_ -= size;
    return at;
}

void ListingModel::Append(const ListRow &row, bool encrypted, std::string_view warning)
{
    const std::string &stored = row.StoredName;
    const std::string &name = row.Text[ColFilename];
    const std::string &path = row.Text[ColPath];
    PackedRow packed;
    packed.LongLengths = {static_cast<std::uint32_t>(stored.size()), static_cast<std::uint32_t>(name.size()),
                          static_cast<std::uint32_t>(path.size())};
    if (stored.ends_with(name))
        packed.Shared |= PackedRow::kNameIsTail;
    if (stored.starts_with(path))
        packed.Shared |= PackedRow::kPathIsHead;
    if (encrypted)
        packed.Shared |= PackedRow::kEncrypted;
    warning = warning.substr(0, 0xFFFF);
    if (!warning.empty())
        packed.Shared |= PackedRow::kWarned;
    std::size_t size = stored.size() + (warning.empty() ? 0 : 2 + warning.size());
    if (!(packed.Shared & PackedRow::kNameIsTail))
        size += name.size();
    if (!(packed.Shared & PackedRow::kPathIsHead))
        size += path.size();
    for (int column = ColDate; column <= ColPacked; ++column) {
        const std::size_t length = row.Text[static_cast<std::size_t>(column)].size();
        if (length > 0xFFFF)
            throw std::length_error("listing text too long");
        packed.ShortLengths[static_cast<std::size_t>(column - 1)] = static_cast<std::uint16_t>(length);
        size += length;
    }
    char *at = Allocate(size);
    packed.Begin = at;
    at = std::copy(stored.begin(), stored.end(), at);
    if (!(packed.Shared & PackedRow::kNameIsTail))
        at = std::copy(name.begin(), name.end(), at);
    for (int column = ColDate; column <= ColPacked; ++column) {
        const std::string &text = row.Text[static_cast<std::size_t>(column)];
        at = std::copy(text.begin(), text.end(), at);
    }
    if (!(packed.Shared & PackedRow::kPathIsHead))
        at = std::copy(path.begin(), path.end(), at);
    if (!warning.empty()) {
        *at++ = static_cast<char>(warning.size() & 0xFF);
        *at++ = static_cast<char>(warning.size() >> 8);
        std::copy(warning.begin(), warning.end(), at);
    }
    rows_.push_back(packed);
}

ListRow ListingModel::Row(int row) const
{
    const PackedRow &packed = rows_[static_cast<std::size_t>(row)];
    ListRow result;
    result.StoredName = packed.Part(0);
    for (int column = 0; column < kListColumnCount; ++column)
        result.Text[static_cast<std::size_t>(column)] = packed.Part(column + 1);
    return result;
}

std::string_view ListingModel::Warning(int row) const
{
    const PackedRow &packed = rows_[static_cast<std::size_t>(row)];
    if (!(packed.Shared & PackedRow::kWarned))
        return {};
    const auto *at = reinterpret_cast<const unsigned char *>(packed.Begin + packed.TextsSize());
    return {reinterpret_cast<const char *>(at + 2), static_cast<std::size_t>(at[0] | at[1] << 8)};
}

int ListingModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListingModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kListColumnCount; }

QVariant ListingModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    // Where any name has a mark, the others keep its room so that all stay in line.
    // A warning tells more than the padlock, so it stands in its place.
    if (role == Qt::DecorationRole && index.column() == ColFilename && anyMarked_)
        return !Warning(index.row()).empty() ? warned_ : Encrypted(index.row()) ? locked_ : unmarked_;
    if (role == Qt::ToolTipRole) {
        const std::string_view why = Warning(index.row());
        return why.empty() ? QVariant() : QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size()));
    }
    if (role != Qt::DisplayRole)
        return {};
    const std::string_view text = Text(index.row(), index.column());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant ListingModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kListColumnCount)
        return {};
    return QString::fromLatin1(kListColumnCaptions[static_cast<std::size_t>(section)]);
}

void ListingModel::Rebuild(const std::function<void(const std::function<void(ListRow &&)> &)> &producer,
                           std::size_t expectedRows, const std::function<bool(std::size_t)> &encrypted,
                           const std::function<std::string_view(std::size_t)> &warning)
{
    beginResetModel();
    // The old rows go before the new are made, not after.
    std::vector<PackedRow>().swap(rows_);
    blocks_.clear();
    blockFree_ = 0;
    blockNext_ = nullptr;
    anyMarked_ = false;
    try {
        rows_.reserve(expectedRows);
        producer([&](ListRow &&row) {
            const bool locked = encrypted && encrypted(rows_.size());
            const std::string_view why = warning ? warning(rows_.size()) : std::string_view();
            if ((locked || !why.empty()) && !anyMarked_) {
                anyMarked_ = true;
                if (locked_.isNull()) {
                    locked_ = toolglyphs::Locked();
                    warned_ = toolglyphs::Warned();
                    unmarked_ = toolglyphs::Unmarked();
                }
            }
            Append(row, locked, why);
        });
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

void ListingModel::SortRows(int column, bool ascending)
{
    if (column < 0 || column >= kListColumnCount)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Parse each row's key once instead of at every comparison; the keys of text
    // columns lie end to end in one string.
    const std::size_t count = rows_.size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    ListTexts texts;
    // A key reads its own column's text, and a date's or time's both.
    const bool dateTime = column == ColDate || column == ColTime;
    auto keyOf = [&](std::size_t row) {
        if (dateTime) {
            texts[ColDate] = rows_[row].Part(ColDate + 1);
            texts[ColTime] = rows_[row].Part(ColTime + 1);
        } else {
            texts[static_cast<std::size_t>(column)] = rows_[row].Part(column + 1);
        }
        return SortKeyOf(texts, column);
    };
    // Stable sorts, as the comparisons of KeyLess: equal keys keep their order either way.
    if (IsTextColumn(column)) {
        // A text without capitals is its own key and is read where it lies; only the
        // others keep a lowered copy, end to end in one string sized in advance.
        const int part = column + 1;
        auto hasCapitals = [](std::string_view text) {
            return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
        };
        std::size_t loweredBytes = 0;
        for (const PackedRow &row : rows_)
            if (const std::string_view text = row.Part(part); hasCapitals(text))
                loweredBytes += text.size();
        std::string lowered;
        std::vector<std::size_t> loweredAt; // by row: where its copy begins, or npos for none
        if (loweredBytes > 0) {
            lowered.reserve(loweredBytes);
            loweredAt.assign(count, std::string::npos);
            for (std::size_t i = 0; i < count; ++i) {
                if (!hasCapitals(rows_[i].Part(part)))
                    continue;
                loweredAt[i] = lowered.size();
                lowered += keyOf(i).Text;
            }
        }
        auto key = [&](std::uint32_t row) {
            const std::string_view text = rows_[row].Part(part);
            if (loweredAt.empty() || loweredAt[row] == std::string::npos)
                return text;
            return std::string_view(lowered).substr(loweredAt[row], text.size());
        };
        if (ascending)
            std::stable_sort(order.begin(), order.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
        else
            std::stable_sort(order.begin(), order.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return key(b) < key(a); });
    } else {
        std::vector<double> keys(count);
        for (std::size_t i = 0; i < count; ++i)
            keys[i] = keyOf(i).Number;
        if (ascending)
            std::stable_sort(order.begin(), order.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
        else
            std::stable_sort(order.begin(), order.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return keys[b] < keys[a]; });
    }

    // Row i takes the row that was at order[i], cycle by cycle, without a second table.
    std::vector<bool> placed(count, false);
    for (std::size_t start = 0; start < count; ++start) {
        if (placed[start])
            continue;
        const PackedRow first = rows_[start];
        std::size_t i = start;
        while (order[i] != start) {
            rows_[i] = rows_[order[i]];
            placed[i] = true;
            i = order[i];
        }
        rows_[i] = first;
        placed[i] = true;
    }

    // Selection and current row follow their rows.
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> newRowOf(count);
        for (std::size_t i = 0; i < count; ++i)
            newRowOf[order[i]] = static_cast<int>(i);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &index : before)
            after.push_back(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
        changePersistentIndexList(before, after);
    }
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace pellux
