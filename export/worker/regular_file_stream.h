#pragma once

#include "export/fs/regular_file.h"

#include <istream>
#include <streambuf>
#include <vector>

namespace brindle {

// A seekable input stream over an open RegularFile, read through a buffer of its own.
class RegularFileStreamBuf : public std::streambuf {
public:
    explicit RegularFileStreamBuf(RegularFile& file);

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    RegularFile& file_;
    std::vector<char> buffer_;
    off_type bufferStart_ = 0; // the file offset of buffer_'s first byte
};

class RegularFileStream : public std::istream {
public:
    explicit RegularFileStream(RegularFile& file);

private:
    RegularFileStreamBuf buffer_;
};

} // namespace brindle
