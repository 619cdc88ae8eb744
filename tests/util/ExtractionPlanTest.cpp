#include "util/ExtractionPlan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace pellux;

// Only the last of the files landing on one path is written; equal hashes of other
// paths, and hashes that merely share the table's slot, change nothing.
TEST(ExtractionPlan, OnlyTheLastOfEachLandingPathIsWritten)
{
    constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
    const std::vector<std::string> paths = {"a", "b", "x", "a", "c", "a", "", "d", "e"};
    std::vector<std::uint64_t> hashes = {11,        // "a"
                                         22,        // "b", its hash shared with "c"
                                         kTop | 1,  // "x", in the slot "d" and "e" also start from
                                         11,        // "a"
                                         22,        // "c"
                                         11,        // "a", the last
                                         0,         // lands nowhere
                                         kTop | 3,  // "d"
                                         kTop | 5}; // "e"
    const auto pathOf = [&](std::size_t i) { return paths[i]; };
    EXPECT_EQ(EarlierNamesakes(hashes, pathOf),
              (std::vector<bool>{true, false, false, true, false, false, false, false, false}));

    // Many names: the table probes past full slots, and the first holder of a name is
    // counted once however often it comes back.
    std::vector<std::string> many;
    for (int i = 0; i < 200000; ++i)
        many.push_back("dir" + std::to_string(i % 500) + "/file" + std::to_string(i));
    for (int i = 0; i < 3; ++i)
        many.push_back("dir7/file7");
    std::vector<std::uint64_t> manyHashes;
    for (const auto &path : many)
        manyHashes.push_back(LandingHash(path));
    const std::vector<bool> earlier = EarlierNamesakes(manyHashes, [&](std::size_t i) { return many[i]; });
    std::vector<std::size_t> marked;
    for (std::size_t i = 0; i < earlier.size(); ++i)
        if (earlier[i])
            marked.push_back(i);
    EXPECT_EQ(marked, (std::vector<std::size_t>{7, 200000, 200001}));
}

TEST(CentralEntry, NameAndExtraFieldChangeApartAndCopiesOutliveTheDirectorysBytes)
{
    CentralEntry e;
    e.SetNameAndExtra("dir/name.txt", std::string("UT\x05\x00\x01\x02\x03\x04\x05", 9));
    e.SetName(e.Name().substr(4)); // a view into the entry's own bytes
    EXPECT_EQ(e.Name(), "name.txt");
    EXPECT_EQ(e.Extra(), std::string_view("UT\x05\x00\x01\x02\x03\x04\x05", 9));
    e.SetExtra(e.Extra().substr(0, 2));
    EXPECT_EQ(e.Name(), "name.txt");
    EXPECT_EQ(e.Extra(), "UT");

    auto kept = std::make_unique<KeptBytes>();
    CentralEntry shared;
    shared.KeepNameAndExtra(*kept, "kept.txt", "xy");
    const CentralEntry copy = shared;
    CentralEntry moved = std::move(shared);
    EXPECT_EQ(moved.Name(), "kept.txt");
    kept.reset(); // the directory goes; the copy stays whole
    EXPECT_EQ(copy.Name(), "kept.txt");
    EXPECT_EQ(copy.Extra(), "xy");
}
