#include "export/overview/node_summaries.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

KeptSummaries TwoSummaries() {
    KeptSummaries kept;
    kept["L1_0_0.osgb"] = {0x1234, std::string("first\0summary", 13)};
    kept["L2_0_0.osgb"] = {0xfedcba9876543210, std::string(40000, 'x')};
    return kept;
}

// The file reads back as written, and anything less or more than it is nothing: a node's
// summary is taken only from a whole file, so that no node is built over a wrong one.
TEST(KeptSummaries, ReadBackAsWrittenAndNothingFromAFileCutShortGrownOrChanged) {
    const KeptSummaries kept = TwoSummaries();
    const std::string bytes = KeptSummariesBytes(kept);
    const std::optional<KeptSummaries> back = ParseKeptSummaries(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, kept);
    EXPECT_EQ(ParseKeptSummaries(KeptSummariesBytes({})), KeptSummaries{});

    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{10}, bytes.size() / 2, bytes.size() - 1})
        EXPECT_FALSE(ParseKeptSummaries(bytes.substr(0, cut))) << cut;
    EXPECT_FALSE(ParseKeptSummaries(bytes + '\0'));
    for (std::size_t at = 0; at < bytes.size(); at += 997) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        EXPECT_FALSE(ParseKeptSummaries(changed)) << at;
    }
}

} // namespace
} // namespace brindle
