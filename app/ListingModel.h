#pragma once
// The rows behind ListViewFiles: the seven texts of each entry and its exact stored
// name, a padlock before the names of encrypted entries, and a warning sign, with the
// reason as tooltip, before those extraction will refuse or change. Sorting reads the keys
// back from the texts, so what is shown is what sorts.
// All rows keep their texts in one arena: a million rows stay small.
#include "listing/ListingText.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
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
    std::string_view Text(int row, int column) const { return rows_[static_cast<std::size_t>(row)].Part(column + 1); }
    bool Encrypted(int row) const { return rows_[static_cast<std::size_t>(row)].Shared & PackedRow::kEncrypted; }
    // Empty for a row without a warning.
    std::string_view Warning(int row) const;

private:
    // One row's stored name and column texts lie end to end in the arena; the row keeps
    // where they begin and their lengths. A file name or path that is the stored name's
    // tail or head, as most are, is not kept again. The five short columns (date, time,
    // sizes, ratio) never reach 65536 bytes; names and paths may. A warning follows the
    // texts, after its length in two bytes.
    struct PackedRow {
        static constexpr std::uint8_t kNameIsTail = 1, kPathIsHead = 2, kEncrypted = 4, kWarned = 8;
        const char *Begin = nullptr;
        std::array<std::uint32_t, 3> LongLengths{}; // stored name, file name, path
        std::array<std::uint16_t, 5> ShortLengths{};
        std::uint8_t Shared = 0;
        // Text 0 is the stored name, text c + 1 that of column c.
        std::string_view Part(int part) const
        {
            const std::size_t stored = LongLengths[0];
            const bool nameIsTail = (Shared & kNameIsTail) != 0;
            if (part == 0)
                return {Begin, stored};
            if (part == ColFilename + 1)
                return {Begin + (nameIsTail ? stored - LongLengths[1] : stored), LongLengths[1]};
            if (part == ColPath + 1 && (Shared & kPathIsHead))
                return {Begin, LongLengths[2]};
            std::size_t at = stored + (nameIsTail ? 0 : LongLengths[1]);
            for (int p = ColDate + 1; p < part; ++p)
                at += ShortLengths[static_cast<std::size_t>(p - 2)];
            return {Begin + at,
                    part == ColPath + 1 ? LongLengths[2] : ShortLengths[static_cast<std::size_t>(part - 2)]};
        }
        std::size_t TextsSize() const
        {
            std::size_t size = LongLengths[0];
            if (!(Shared & kNameIsTail))
                size += LongLengths[1];
            if (!(Shared & kPathIsHead))
                size += LongLengths[2];
            for (const std::uint16_t length : ShortLengths)
                size += length;
            return size;
        }
    };
    void Append(const ListRow &row, bool encrypted, std::string_view warning);
    // Blocks of text that never move: a million rows grow the arena without copying it.
    char *Allocate(std::size_t size);

    std::vector<PackedRow> rows_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockFree_ = 0;
    char *blockNext_ = nullptr;
    bool anyMarked_ = false;
    QIcon locked_, warned_, unmarked_; // drawn once, at the first listing that needs them
};

} // namespace pellux
