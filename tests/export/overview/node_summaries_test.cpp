#include "export/overview/node_summaries.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

// A kept summary reads back as written, and anything less or more than that file, or one of
// another subtree, gives nothing: a node is built only over the summary of the same subtree.
TEST(KeptSummary, ReadsBackAsWrittenAndNothingFromAFileCutShortGrownChangedOrOfAnotherSubtree) {
    const std::string summary = std::string("held\0summary", 12) + std::string(30000, 'x');
    const std::uint64_t hash = 0xfedcba9876543210;
    const std::string bytes = KeptSummaryBytes(hash, summary);
    EXPECT_EQ(ParseKeptSummary(bytes, hash), summary);
    EXPECT_FALSE(ParseKeptSummary(bytes, hash + 1));

    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{10}, bytes.size() / 2, bytes.size() - 1})
        EXPECT_FALSE(ParseKeptSummary(bytes.substr(0, cut), hash)) << cut;
    EXPECT_FALSE(ParseKeptSummary(bytes + '\0', hash));
    for (std::size_t at = 0; at < bytes.size(); at += 997) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        EXPECT_FALSE(ParseKeptSummary(changed, hash)) << at;
    }
}

} // namespace
} // namespace brindle
