#include "export/worker/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace brindle {

MemoryStreamBuf::MemoryStreamBuf(std::string_view bytes, AtEnd atEnd) : atEnd_(atEnd) {
    // The get area is never written through; streambuf just has no const interface.
    char* begin = const_cast<char*>(bytes.data());
    setg(begin, begin, begin + bytes.size());
}

std::streamsize MemoryStreamBuf::xsgetn(char* destination, std::streamsize count) {
    if (atEnd_ == AtEnd::Fail)
        return std::streambuf::xsgetn(destination, count);
    if (ranPastEnd_)
        throw OutOfDataError();
    const std::streamsize taken = std::min<std::streamsize>(count, egptr() - gptr());
    if (taken > 0) {
        std::memcpy(destination, gptr(), static_cast<std::size_t>(taken));
        setg(eback(), gptr() + taken, egptr());
    }
    if (taken < count) {
        std::memset(destination + taken, 0, static_cast<std::size_t>(count - taken));
        ranPastEnd_ = true;
    }
    return count;
}

MemoryStreamBuf::int_type MemoryStreamBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (atEnd_ == AtEnd::Fail)
        return traits_type::eof();
    ranPastEnd_ = true;
    throw OutOfDataError();
}

// Seeks behave as on a file in either mode: one past the end succeeds and reading there runs
// out, one before the start or beyond the largest size a file can have on common file
// systems (16 TiB) fails and leaves the stream failed. The reader takes a failed seek in its
// stride when nothing follows it, so a stream that threw there would fail tiles it loads.
MemoryStreamBuf::pos_type MemoryStreamBuf::seekoff(off_type offset,
                                                   std::ios_base::seekdir direction,
                                                   std::ios_base::openmode which) {
    const pos_type failed(off_type(-1));
    constexpr off_type kLargestFileSize = off_type(1) << 44;
    if (!(which & std::ios_base::in))
        return failed;
    const off_type size = egptr() - eback();
    off_type base = 0;
    if (direction == std::ios_base::cur)
        base = gptr() - eback() + pastEnd_;
    else if (direction == std::ios_base::end)
        base = size;
    if (offset < -base || offset > kLargestFileSize - base)
        return failed;
    const off_type target = base + offset;
    pastEnd_ = std::max<off_type>(target - size, 0);
    setg(eback(), eback() + (target - pastEnd_), egptr());
    return {target};
}

MemoryStreamBuf::pos_type MemoryStreamBuf::seekpos(pos_type position,
                                                   std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

MemoryStream::MemoryStream(std::string_view bytes, AtEnd atEnd)
    : std::istream(nullptr), buffer_(bytes, atEnd) {
    rdbuf(&buffer_);
    // The stream catches what its buffer throws and rethrows it only for the states listed
    // here.
    if (atEnd == AtEnd::Stop)
        exceptions(std::ios_base::badbit);
}

} // namespace brindle
