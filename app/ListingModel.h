#pragma once
// The rows behind ListViewFiles: the seven texts of each entry and its exact stored
// name. Sorting reads the keys back from the texts, so what is shown is what sorts.
// Each row keeps its texts in one allocation: a million rows stay small.
#include "listing/ListingText.h"

#include <QAbstractTableModel>

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace pellux {

class ListingModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Replaces every row with those the producer hands to its sink. If the producer
    // fails, the rows delivered before the failure stay and the error propagates.
    void Rebuild(const std::function<void(const std::function<void(ListRow &&)> &)> &producer);
    // Orders the rows by one column's key; rows with equal keys keep their order.
    void SortRows(int column, bool ascending);

    ListRow Row(int row) const;
    std::string_view Text(int row, int column) const { return rows_[static_cast<std::size_t>(row)].Text(column); }

private:
    // The stored name, then the column texts, end to end.
    struct PackedRow {
        explicit PackedRow(const ListRow &row);
        std::string_view Part(int part) const
        {
            const std::uint32_t begin = part == 0 ? 0 : Ends[static_cast<std::size_t>(part - 1)];
            return std::string_view(Bytes).substr(begin, Ends[static_cast<std::size_t>(part)] - begin);
        }
        std::string_view StoredName() const { return Part(0); }
        std::string_view Text(int column) const { return Part(column + 1); }
        std::string Bytes;
        std::array<std::uint32_t, kListColumnCount + 1> Ends{};
    };
    std::vector<PackedRow> rows_;
};

} // namespace pellux
