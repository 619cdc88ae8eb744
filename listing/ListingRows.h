#pragma once
// Turns the component's entry list into listing rows, in the component's order.
#include "listing/ListingText.h"
#include "zip/ZipEngine.h"

#include <functional>
#include <memory>
#include <string_view>

namespace pellux {

// Calls sink with one row per entry (EntryCount of them).
void FillRows(const TZipEngine &engine, ListingBuilder &builder, const std::function<void(ListRow &&)> &sink);

// Rows by their index, each text made or found when asked.
class ListingSource {
public:
    virtual ~ListingSource() = default;
    virtual std::size_t Count() const = 0;
    // Text 0 of a row is its stored name, text c + 1 that of column c. A view stays
    // valid until a text of another row is asked for.
    virtual std::string_view Part(std::size_t row, int part) const = 0;
    virtual bool Encrypted(std::size_t row) const = 0;
    // Empty for a row without a warning.
    virtual std::string_view Warning(std::size_t row) const = 0;
    // Whether any row is encrypted or has a warning.
    virtual bool AnyMarked() const = 0;
    // A source over the same rows whose Part may be called on another thread while this
    // one's is; nullptr when this one's Part keeps no state and may itself be shared.
    virtual std::unique_ptr<const ListingSource> Reader() const { return nullptr; }
};

// No rows.
std::shared_ptr<const ListingSource> EmptyRows();

// The engine's current entries (EntryCount of them), each row's texts made as FillRows
// makes them when first asked: a million entries are not held twice. The source keeps
// the entries and their warnings, also once the engine reads another archive.
std::shared_ptr<const ListingSource> EntryRows(const TZipEngine &engine, const ListingBuilder &builder);

} // namespace pellux
