#pragma once
// The rows behind ListViewFiles: the seven texts of each entry and its exact stored
// name, a padlock before the names of encrypted entries, and a warning sign, with the
// reason as tooltip, before those extraction will refuse or change. Sorting reads the keys
// back from the texts, so what is shown is what sorts.
// The rows come from a ListingSource: the engine's entries, formatted as they are shown,
// or rows handed over whole, kept in one arena. A million rows stay small either way.
#include "listing/ListingRows.h"
#include "listing/ListingText.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <memory>
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

    // Replaces every row with those of the source, in its order.
    void Show(std::shared_ptr<const ListingSource> source);
    // Replaces every row with those the producer hands to its sink. If the producer
    // fails, the rows delivered before the failure stay and the error propagates.
    // `expectedRows` only sizes the table in advance. `encrypted`, when given, tells
    // by its index in the producer's order whether a row's entry is encrypted, and
    // `warning` what extraction will do otherwise than shown (empty: nothing).
    void Rebuild(const std::function<void(const std::function<void(ListRow &&)> &)> &producer,
                 std::size_t expectedRows = 0, const std::function<bool(std::size_t)> &encrypted = {},
                 const std::function<std::string_view(std::size_t)> &warning = {});
    // Orders the rows by one column's key; rows with equal keys keep their order.
    void SortRows(int column, bool ascending);

    ListRow Row(int row) const;
    // Valid until the text of another row is asked for.
    std::string_view Text(int row, int column) const { return source_->Part(order_[Index(row)], column + 1); }
    bool Encrypted(int row) const { return source_->Encrypted(order_[Index(row)]); }
    // Empty for a row without a warning.
    std::string_view Warning(int row) const { return source_->Warning(order_[Index(row)]); }

private:
    static std::size_t Index(int row) { return static_cast<std::size_t>(row); }
    // Shows `source`, between a reset's begin and end.
    void Install(std::shared_ptr<const ListingSource> source);

    std::shared_ptr<const ListingSource> source_ = EmptyRows();
    std::vector<std::uint32_t> order_; // by row: the source's row shown there
    bool anyMarked_ = false;
    QIcon locked_, warned_, unmarked_; // drawn once, at the first listing that needs them
};

} // namespace pellux
