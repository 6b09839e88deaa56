#pragma once

#include <istream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>

namespace brindle {

// What a MemoryStream does when a read asks for more than there is.
enum class AtEnd {
    // The read fails, as on a file.
    Fail,
    // The first such read gets what there is, padded with zeros, and marks the stream
    // (ranPastEnd()); every read after it throws OutOfDataError to the stream's caller. The
    // one padded read lets a caller free what it allocated for that read before its parse is
    // stopped. A read of a single character past the end throws at once.
    Stop,
};

class OutOfDataError : public std::runtime_error {
public:
    OutOfDataError() : std::runtime_error("read past the end of the data") {}
};

// A read-only, seekable stream buffer over bytes already in memory; it copies nothing and must
// not outlive them.
class MemoryStreamBuf : public std::streambuf {
public:
    MemoryStreamBuf(std::string_view bytes, AtEnd atEnd);

    bool ranPastEnd() const { return ranPastEnd_; }

protected:
    std::streamsize xsgetn(char* destination, std::streamsize count) override;
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    AtEnd atEnd_;
    off_type pastEnd_ = 0; // how far a seek went beyond the end
    bool ranPastEnd_ = false;
};

class MemoryStream : public std::istream {
public:
    MemoryStream(std::string_view bytes, AtEnd atEnd);

    bool ranPastEnd() const { return buffer_.ranPastEnd(); }

private:
    MemoryStreamBuf buffer_;
};

} // namespace brindle
