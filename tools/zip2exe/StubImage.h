#pragma once
// The extractor stub's file, built into zip2exe so that the converter needs nothing
// beside it at run time. The definition is generated from the stub at build time.
#include <span>

namespace pellux::zip2exe {

std::span<const unsigned char> StubImage();

} // namespace pellux::zip2exe
