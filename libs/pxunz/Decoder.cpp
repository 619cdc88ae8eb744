#include "libs/pxunz/Decoder.h"

#include "util/ZipRecords.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pellux::libs {

namespace {

// Method 0: the data as it is.
class StoredDecoder final : public Decoder {
public:
    Status Decode(DecodeBuffers &b) override
    {
        const std::size_t n = std::min(b.InLeft, b.OutLeft);
        if (n > 0) // an empty entry has no input buffer at all
            std::memcpy(b.Out, b.In, n);
        b.In += n;
        b.InLeft -= n;
        b.Out += n;
        b.OutLeft -= n;
        return b.InLeft == 0 && b.InputEnds ? Status::End : Status::Ok;
    }
};

constexpr std::size_t kHugePage = 2u << 20;
// Below this a table takes little of the TLB's reach: malloc'ed as usual.
constexpr std::size_t kTableMapAbove = 1u << 20;

// Where a mapped table's mapping begins and how long it is, just before the table.
struct TableHeader {
    void *Mapping;
    std::size_t Length;
    std::size_t Mapped; // 0 for a table from calloc
    std::size_t Padding;
};

} // namespace

void *AllocTable(std::size_t size)
{
    if (size > SIZE_MAX - 2 * kHugePage)
        return nullptr;
    if (size <= kTableMapAbove) {
        auto *header = static_cast<TableHeader *>(std::calloc(1, sizeof(TableHeader) + size));
        if (!header)
            return nullptr;
        header->Mapped = 0;
        return header + 1;
    }
    // The table starts on a huge page boundary; its header takes the page's last bytes
    // before it. The mapping's zero pages need no clearing.
    const std::size_t length = size + 2 * kHugePage;
    void *mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t table = (start + sizeof(TableHeader) + kHugePage - 1) / kHugePage * kHugePage;
    ::madvise(reinterpret_cast<void *>(table), (size + kHugePage - 1) / kHugePage * kHugePage, MADV_HUGEPAGE);
    auto *header = reinterpret_cast<TableHeader *>(table) - 1;
    header->Mapping = mapping;
    header->Length = length;
    header->Mapped = 1;
    return reinterpret_cast<void *>(table);
}

void FreeTable(void *table)
{
    if (!table)
        return;
    TableHeader *header = static_cast<TableHeader *>(table) - 1;
    if (header->Mapped)
        ::munmap(header->Mapping, header->Length);
    else
        std::free(header);
}

std::unique_ptr<Decoder> MakeDecoder(const DecoderEntry &entry)
{
    switch (entry.Method) {
    case 0:
        return std::make_unique<StoredDecoder>();
    case 1:
        return MakeShrinkDecoder(entry);
    case 2:
    case 3:
    case 4:
    case 5:
        return MakeReduceDecoder(entry);
    case 6:
        return MakeImplodeDecoder(entry);
    case 8:
        return MakeInflateDecoder();
    case 9:
        return MakeDeflate64Decoder();
    case 12:
        return MakeBzip2Decoder();
    case 14:
        return MakeLzmaDecoder(entry);
    case 20:
    case 93:
        return MakeZstdDecoder();
    case 95:
        return MakeXzDecoder();
    case 98:
        return MakePpmdDecoder(entry);
    default:
        return nullptr;
    }
}

std::string MethodName(std::uint16_t method) { return CompressionMethodName(method); }

std::string UnsupportedMethod(std::uint16_t method)
{
    const std::string name = MethodName(method);
    return "unsupported compression method " + std::to_string(method) + (name == "unknown" ? "" : " (" + name + ")");
}

} // namespace pellux::libs
