#include "app/ListingModel.h"

#include <algorithm>
#include <numeric>

namespace pellux {

ListingModel::PackedRow::PackedRow(const ListRow &row)
{
    std::size_t size = row.StoredName.size();
    for (const auto &text : row.Text)
        size += text.size();
    Bytes.reserve(size);
    Bytes += row.StoredName;
    Ends[0] = static_cast<std::uint32_t>(Bytes.size());
    for (std::size_t i = 0; i < row.Text.size(); ++i) {
        Bytes += row.Text[i];
        Ends[i + 1] = static_cast<std::uint32_t>(Bytes.size());
    }
}

ListRow ListingModel::Row(int row) const
{
    const PackedRow &packed = rows_[static_cast<std::size_t>(row)];
    ListRow result;
    result.StoredName = packed.StoredName();
    for (int column = 0; column < kListColumnCount; ++column)
        result.Text[static_cast<std::size_t>(column)] = packed.Text(column);
    return result;
}

int ListingModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListingModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kListColumnCount; }

QVariant ListingModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
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

void ListingModel::Rebuild(const std::function<void(const std::function<void(ListRow &&)> &)> &producer)
{
    beginResetModel();
    rows_.clear();
    try {
        producer([this](ListRow &&row) { rows_.emplace_back(row); });
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

    // Parse each row's key once instead of at every comparison.
    std::vector<SortKey> keys;
    keys.reserve(rows_.size());
    ListTexts texts;
    for (const PackedRow &row : rows_) {
        for (int c = 0; c < kListColumnCount; ++c)
            texts[static_cast<std::size_t>(c)] = row.Text(c);
        keys.push_back(SortKeyOf(texts, column));
    }
    std::vector<std::size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ascending ? KeyLess(keys[a], keys[b], column) : KeyLess(keys[b], keys[a], column);
    });

    std::vector<PackedRow> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newRowOf(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(std::move(rows_[order[i]]));
        newRowOf[order[i]] = static_cast<int>(i);
    }
    rows_ = std::move(sorted);

    // Selection and current row follow their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &index : before)
        after.push_back(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace pellux
