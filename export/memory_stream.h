#pragma once

#include <istream>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace brindle {

// What a MemoryStream does when a read asks for more than there is.
enum class AtEnd {
    Fail,  // the read fails, as on a file
    Throw, // it throws OutOfDataError to the stream's caller, and so does a seek that fails
};

class OutOfDataError : public std::runtime_error {
public:
    OutOfDataError() : std::runtime_error("read or seek outside the data") {}
};

// A read-only, seekable stream buffer over bytes already in memory; it copies nothing and must
// not outlive them.
class MemoryStreamBuf : public std::streambuf {
public:
    MemoryStreamBuf(const std::string& bytes, AtEnd atEnd);

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    AtEnd atEnd_;
    off_type pastEnd_ = 0; // how far a seek went beyond the end
};

class MemoryStream : public std::istream {
public:
    MemoryStream(const std::string& bytes, AtEnd atEnd);

private:
    MemoryStreamBuf buffer_;
};

} // namespace brindle
