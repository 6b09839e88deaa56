#include "export/memory_stream.h"

#include <gtest/gtest.h>

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

TEST(MemoryStream, GoingOutsideTheDataFailsOrThrowsAsAsked) {
    const std::string bytes = "abc";
    char buffer[8];

    MemoryStream failing(bytes, AtEnd::Fail);
    EXPECT_FALSE(failing.read(buffer, sizeof buffer));
    EXPECT_EQ(failing.gcount(), 3);

    MemoryStream throwing(bytes, AtEnd::Throw);
    ASSERT_TRUE(throwing.read(buffer, 3)) << "reading up to the end is no error";
    EXPECT_THROW(throwing.read(buffer, 1), OutOfDataError);
    throwing.clear();
    throwing.seekg(10);
    EXPECT_THROW(throwing.get(), OutOfDataError);
    throwing.clear();
    EXPECT_THROW(throwing.seekg(-1, std::ios_base::beg), OutOfDataError);

    const std::string nothing;
    MemoryStream empty(nothing, AtEnd::Throw);
    EXPECT_THROW(empty.get(), OutOfDataError);
}

} // namespace
} // namespace brindle
