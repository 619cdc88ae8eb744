#pragma once
// The rows behind ListViewFiles: the seven texts of each entry and its exact stored
// name. Sorting reads the keys back from the texts, so what is shown is what sorts.
#include "listing/ListingText.h"

#include <QAbstractTableModel>

#include <functional>
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

    const ListRow &Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

private:
    std::vector<ListRow> rows_;
};

} // namespace pellux
