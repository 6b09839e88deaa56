#include "export/worker/regular_file_stream.h"

namespace brindle {
namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
}

RegularFileStreamBuf::RegularFileStreamBuf(RegularFile& file) : file_(file), buffer_(kBufferSize) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

RegularFileStreamBuf::int_type RegularFileStreamBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    bufferStart_ += egptr() - eback();
    // A read that fails ends the stream; the parse then fails as at any other end.
    const std::size_t got = file_.read(buffer_.data(), buffer_.size()).value_or(0);
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

RegularFileStreamBuf::pos_type RegularFileStreamBuf::seekoff(off_type offset,
                                                             std::ios_base::seekdir direction,
                                                             std::ios_base::openmode which) {
    const pos_type failed(off_type(-1));
    if (!(which & std::ios_base::in))
        return failed;
    const auto size = static_cast<off_type>(file_.size());
    off_type base = 0;
    if (direction == std::ios_base::cur)
        base = bufferStart_ + (gptr() - eback());
    else if (direction == std::ios_base::end)
        base = size;
    const off_type target = base + offset;
    if (target < 0 || !file_.seek(static_cast<std::uint64_t>(target)))
        return failed;
    bufferStart_ = target;
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return {target};
}

RegularFileStreamBuf::pos_type RegularFileStreamBuf::seekpos(pos_type position,
                                                             std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

RegularFileStream::RegularFileStream(RegularFile& file) : std::istream(nullptr), buffer_(file) {
    rdbuf(&buffer_);
}

} // namespace brindle
