#include "app/ListingModel.h"

#include "app/Glyphs.h"
#include "util/KeptBytes.h"

#include <algorithm>
#include <array>
#include <exception>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace pellux {

namespace {

// From this many rows a sort is worth a second thread.
constexpr std::size_t kSplitSortRows = 50000;

// Runs work(0, 0, mid) here and work(1, mid, count) on another thread, when there is a
// second half.
template <typename Work>
void InHalves(std::size_t count, std::size_t mid, Work &work)
{
    if (mid == count) {
        work(0, 0, count);
        return;
    }
    std::exception_ptr failed;
    std::thread second([&] {
        try {
            work(1, mid, count);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        work(0, 0, mid);
    } catch (...) {
        second.join();
        throw;
    }
    second.join();
    if (failed)
        std::rethrow_exception(failed);
}

// The rows of the two sorted halves of `keyed`, [0, mid) and [mid, end), merged into
// `rows`.
template <typename Keyed, typename Before>
void MergeRows(const std::vector<Keyed> &keyed, std::size_t mid, Before &before, std::vector<std::uint32_t> &rows)
{
    std::size_t a = 0, b = mid, out = 0;
    while (a < mid && b < keyed.size())
        rows[out++] = before(keyed[b], keyed[a]) ? keyed[b++].Row : keyed[a++].Row;
    while (a < mid)
        rows[out++] = keyed[a++].Row;
    while (b < keyed.size())
        rows[out++] = keyed[b++].Row;
}

// Rows handed over whole. One row's stored name and column texts lie end to end in the
// arena; the row keeps where they begin and their lengths. A file name or path that is
// the stored name's tail or head, as most are, is not kept again. The five short columns
// (date, time, sizes, ratio) never reach 65536 bytes; names and paths may. A warning
// follows the texts, after its length in two bytes.
class PackedRows final : public ListingSource {
public:
    std::size_t Count() const override { return rows_.size(); }
    std::string_view Part(std::size_t row, int part) const override { return rows_[row].Part(part); }
    bool Encrypted(std::size_t row) const override { return rows_[row].Shared & PackedRow::kEncrypted; }
    std::string_view Warning(std::size_t row) const override;
    bool AnyMarked() const override { return anyMarked_; }

    void Reserve(std::size_t rows) { rows_.reserve(rows); }
    void Append(const ListRow &row, bool encrypted, std::string_view warning);

private:
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
    std::vector<PackedRow> rows_;
    KeptBytes texts_; // blocks that never move: a million rows grow without copying
    bool anyMarked_ = false;
};

void PackedRows::Append(const ListRow &row, bool encrypted, std::string_view warning)
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
    char *at = texts_.Allocate(size);
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
    anyMarked_ = anyMarked_ || encrypted || !warning.empty();
}

std::string_view PackedRows::Warning(std::size_t row) const
{
    const PackedRow &packed = rows_[row];
    if (!(packed.Shared & PackedRow::kWarned))
        return {};
    const auto *at = reinterpret_cast<const unsigned char *>(packed.Begin + packed.TextsSize());
    return {reinterpret_cast<const char *>(at + 2), static_cast<std::size_t>(at[0] | at[1] << 8)};
}

} // namespace

ListRow ListingModel::Row(int row) const
{
    const std::size_t at = order_[Index(row)];
    ListRow result;
    result.StoredName = source_->Part(at, 0);
    for (int column = 0; column < kListColumnCount; ++column)
        result.Text[static_cast<std::size_t>(column)] = source_->Part(at, column + 1);
    return result;
}

int ListingModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
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

void ListingModel::Install(std::shared_ptr<const ListingSource> source)
{
    source_ = std::move(source);
    order_.resize(source_->Count());
    std::iota(order_.begin(), order_.end(), std::uint32_t{0});
    anyMarked_ = source_->AnyMarked();
    if (anyMarked_ && locked_.isNull()) {
        locked_ = toolglyphs::Locked();
        warned_ = toolglyphs::Warned();
        unmarked_ = toolglyphs::Unmarked();
    }
}

void ListingModel::Show(std::shared_ptr<const ListingSource> source)
{
    beginResetModel();
    // The old rows go before the new are shown, not after.
    std::vector<std::uint32_t>().swap(order_);
    source_ = EmptyRows();
    Install(std::move(source));
    endResetModel();
}

void ListingModel::Rebuild(const std::function<void(const std::function<void(ListRow &&)> &)> &producer,
                           std::size_t expectedRows, const std::function<bool(std::size_t)> &encrypted,
                           const std::function<std::string_view(std::size_t)> &warning)
{
    beginResetModel();
    // The old rows go before the new are made, not after.
    std::vector<std::uint32_t>().swap(order_);
    source_ = EmptyRows();
    auto rows = std::make_shared<PackedRows>();
    try {
        rows->Reserve(expectedRows);
        producer([&](ListRow &&row) {
            const std::size_t at = rows->Count();
            rows->Append(row, encrypted && encrypted(at), warning ? warning(at) : std::string_view());
        });
    } catch (...) {
        Install(std::move(rows));
        endResetModel();
        throw;
    }
    Install(std::move(rows));
    endResetModel();
}

void ListingModel::SortRows(int column, bool ascending)
{
    if (column < 0 || column >= kListColumnCount)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Each row's key is read once, not at every comparison: numbers beside their rows,
    // texts (lowered) led by their first sixteen bytes as two big-endian numbers and
    // their length, so that most comparisons never reach the text. Equal keys are
    // ordered by their row: the sort is stable without paying for a stable sort.
    const std::size_t count = order_.size();
    std::vector<std::uint32_t> order(count);
    // A large table is keyed and sorted in two halves on two threads, each reading the
    // rows through its own reader, and the halves merged.
    const bool split = count >= kSplitSortRows && std::thread::hardware_concurrency() > 1;
    const std::size_t mid = split ? count / 2 : count;
    const std::unique_ptr<const ListingSource> reader = split ? source_->Reader() : nullptr;
    const std::array<const ListingSource *, 2> sources{source_.get(), reader ? reader.get() : source_.get()};
    // A key reads its own column's text, and a date's or time's both.
    const bool dateTime = column == ColDate || column == ColTime;
    auto textsOf = [&](int half, std::size_t row, ListTexts &texts) {
        const std::size_t at = order_[row];
        if (dateTime) {
            texts[ColDate] = sources[half]->Part(at, ColDate + 1);
            texts[ColTime] = sources[half]->Part(at, ColTime + 1);
        } else {
            texts[static_cast<std::size_t>(column)] = sources[half]->Part(at, column + 1);
        }
    };
    if (IsTextColumn(column)) {
        constexpr std::size_t kHead = 16;
        struct Keyed {
            std::uint64_t Head0, Head1;
            std::uint32_t Length;
            std::uint32_t Row;
        };
        std::vector<Keyed> keyed(count);
        // What follows the first sixteen bytes of a key, in its half's string.
        std::array<std::string, 2> tails;
        std::vector<std::uint32_t> tailAt(count);
        auto tail = [&](const Keyed &k) {
            return std::string_view(tails[k.Row < mid ? 0 : 1]).substr(tailAt[k.Row], k.Length - kHead);
        };
        // <0, 0 or >0 as a's key sorts before, with or after b's.
        auto compare = [&](const Keyed &a, const Keyed &b) {
            if (a.Head0 != b.Head0)
                return a.Head0 < b.Head0 ? -1 : 1;
            if (a.Head1 != b.Head1)
                return a.Head1 < b.Head1 ? -1 : 1;
            if (a.Length <= kHead || b.Length <= kHead) // the heads hold the shorter whole
                return a.Length == b.Length ? 0 : a.Length < b.Length ? -1 : 1;
            return tail(a).compare(tail(b));
        };
        auto before = [&](const Keyed &a, const Keyed &b) {
            const int c = compare(a, b);
            return c != 0 ? (ascending ? c < 0 : c > 0) : a.Row < b.Row;
        };
        auto keyHalf = [&](int half, std::size_t from, std::size_t to) {
            ListTexts texts;
            std::string key;
            std::string &rest = tails[static_cast<std::size_t>(half)];
            for (std::size_t i = from; i < to; ++i) {
                textsOf(half, i, texts);
                key.clear();
                AppendTextKey(key, texts[static_cast<std::size_t>(column)]);
                auto head = [&](std::size_t at) {
                    std::uint64_t h = 0;
                    for (std::size_t b = at; b < at + 8; ++b)
                        h = h << 8 | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
                    return h;
                };
                if (key.size() > UINT32_MAX || rest.size() > UINT32_MAX - key.size())
                    throw std::length_error("listing texts too long to sort");
                tailAt[i] = static_cast<std::uint32_t>(rest.size());
                if (key.size() > kHead)
                    rest.append(key, kHead);
                keyed[i] = {head(0), head(8), static_cast<std::uint32_t>(key.size()), static_cast<std::uint32_t>(i)};
            }
            std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(from),
                      keyed.begin() + static_cast<std::ptrdiff_t>(to), before);
        };
        InHalves(count, mid, keyHalf);
        MergeRows(keyed, mid, before, order);
    } else {
        struct Keyed {
            double Key;
            std::uint32_t Row;
        };
        std::vector<Keyed> keyed(count);
        auto before = [&](const Keyed &a, const Keyed &b) {
            return a.Key != b.Key ? (ascending ? a.Key < b.Key : b.Key < a.Key) : a.Row < b.Row;
        };
        auto keyHalf = [&](int half, std::size_t from, std::size_t to) {
            ListTexts texts;
            for (std::size_t i = from; i < to; ++i) {
                textsOf(half, i, texts);
                keyed[i] = {SortKeyOf(texts, column).Number, static_cast<std::uint32_t>(i)};
            }
            std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(from),
                      keyed.begin() + static_cast<std::ptrdiff_t>(to), before);
        };
        InHalves(count, mid, keyHalf);
        MergeRows(keyed, mid, before, order);
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
    // Row i shows what row order[i] showed.
    for (std::uint32_t &row : order)
        row = order_[row];
    order_.swap(order);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace pellux
