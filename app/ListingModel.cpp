#include "app/ListingModel.h"

#include <algorithm>
#include <numeric>

namespace pellux {

int ListingModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListingModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kListColumnCount; }

QVariant ListingModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const std::string &text =
        rows_[static_cast<std::size_t>(index.row())].Text[static_cast<std::size_t>(index.column())];
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
        producer([this](ListRow &&row) { rows_.push_back(std::move(row)); });
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
    for (const ListRow &row : rows_)
        keys.push_back(SortKeyOf(row, column));
    std::vector<std::size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ascending ? KeyLess(keys[a], keys[b], column) : KeyLess(keys[b], keys[a], column);
    });

    std::vector<ListRow> sorted;
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
