#pragma once
// Turns the component's entry list into listing rows, in the component's order.
#include "listing/ListingText.h"
#include "zip/ZipEngine.h"

#include <functional>

namespace pellux {

// Calls sink with one row per entry (EntryCount of them).
void FillRows(const TZipEngine &engine, ListingBuilder &builder, const std::function<void(ListRow &&)> &sink);

} // namespace pellux
