#include "export/worker/memory_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace brindle {
namespace {

TEST(MemoryStream, ReadsAndSeeksLikeAFile) {
    const std::string bytes = "0123456789";
    MemoryStream stream(bytes, AtEnd::Fail);
    char four[4];
    ASSERT_TRUE(stream.read(four, 4));
    EXPECT_EQ(std::string(four, 4), "0123");
    EXPECT_EQ(stream.tellg(), 4);

    stream.seekg(-3, std::ios_base::end);
    EXPECT_EQ(stream.get(), '7');
    stream.seekg(1, std::ios_base::cur);
    EXPECT_EQ(stream.get(), '9');

    stream.seekg(15);
    ASSERT_TRUE(stream) << "a seek past the end succeeds, as on a file";
    EXPECT_EQ(stream.tellg(), 15);
    stream.seekg(-7, std::ios_base::cur);
    EXPECT_EQ(stream.get(), '8') << "and the position beyond the end is kept";
    stream.seekg(12);
    EXPECT_EQ(stream.get(), std::char_traits<char>::eof());

    stream.clear();
    stream.seekg(-1, std::ios_base::beg);
    EXPECT_TRUE(stream.fail()) << "a seek before the start fails";
}

TEST(MemoryStream, GoingOutsideTheDataFailsOrStopsTheReaderAsAsked) {
    const std::string bytes = "abc";
    char buffer[8];

    MemoryStream failing(bytes, AtEnd::Fail);
    EXPECT_FALSE(failing.read(buffer, sizeof buffer));
    EXPECT_EQ(failing.gcount(), 3);
    EXPECT_FALSE(failing.ranPastEnd());

    MemoryStream stopping(bytes, AtEnd::Stop);
    ASSERT_TRUE(stopping.read(buffer, 2));
    EXPECT_FALSE(stopping.ranPastEnd()) << "reading up to the end is no error";
    std::fill(std::begin(buffer), std::end(buffer), 'x');
    ASSERT_TRUE(stopping.read(buffer, 4)) << "the first read past the end still returns";
    EXPECT_EQ(std::string(buffer, 4), std::string("c\0\0\0", 4));
    EXPECT_TRUE(stopping.ranPastEnd());
    EXPECT_THROW(stopping.read(buffer, 1), OutOfDataError);
    stopping.clear();
    stopping.seekg(0);
    EXPECT_THROW(stopping.read(buffer, 1), OutOfDataError) << "nor can a seek undo it";

    // Seeks are a file's: past the end is fine until something reads there.
    MemoryStream seeking(bytes, AtEnd::Stop);
    seeking.seekg(10);
    ASSERT_TRUE(seeking);
    EXPECT_FALSE(seeking.ranPastEnd());
    ASSERT_TRUE(seeking.read(buffer, 2));
    EXPECT_TRUE(seeking.ranPastEnd());
    EXPECT_THROW(seeking.read(buffer, 1), OutOfDataError);

    MemoryStream rewinding(bytes, AtEnd::Stop);
    rewinding.seekg(-1, std::ios_base::beg);
    EXPECT_TRUE(rewinding.fail());
    EXPECT_FALSE(rewinding.ranPastEnd());
}

} // namespace
} // namespace brindle
