#include "export/hash/fnv1a.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace brindle {
namespace {

// The published 64-bit FNV-1a test values: the verdict cache's stored keys and the overview
// manifest's hashes are these, so no change may alter them.
TEST(Fnv1a, GivesThePublishedValues) {
    EXPECT_EQ(Fnv1a().value(), 0xcbf29ce484222325u);
    EXPECT_EQ(Fnv1a().addBytes("").value(), 0xcbf29ce484222325u);
    EXPECT_EQ(Fnv1a().addBytes("a").value(), 0xaf63dc4c8601ec8cu);
    EXPECT_EQ(Fnv1a().addBytes("foobar").value(), 0x85944171f73967e8u);
    EXPECT_EQ(Fnv1a().addByte('a').value(), 0xaf63dc4c8601ec8cu);
    // Fed in pieces, the same as whole.
    EXPECT_EQ(Fnv1a().addBytes("foo").addBytes("bar").value(), 0x85944171f73967e8u);
}

// A word goes in lowest byte first on every machine, so a key written on one reads on another.
TEST(Fnv1a, AWordIsItsBytesLowestFirst) {
    const std::string bytes("\x08\x07\x06\x05\x04\x03\x02\x01", 8);
    EXPECT_EQ(Fnv1a().addWord(0x0102030405060708u).value(), Fnv1a().addBytes(bytes).value());
    EXPECT_EQ(Fnv1a().addWord(0x0102030405060708u).value(), 0x0c6d4496e17859d5u);
}

} // namespace
} // namespace brindle
