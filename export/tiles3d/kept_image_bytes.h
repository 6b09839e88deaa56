#pragma once

#include <osg/Image>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// A binary scene decodes the JPEG and PNG files it embeds as it reads them and drops their
// bytes: the images it gives hold pixels only, with the file's name. To embed those files as
// they were rather than encode the pixels again, a worker that converts tiles has the
// registry's JPEG and PNG readers keep the bytes of every image they decode from a stream
// (at most maxBytes of them an image), on the image itself. It changes the scene-graph
// library's process-wide registry: call it once, in a worker, before it reads a tile. False
// when the registry has no JPEG or PNG reader.
bool KeepEmbeddedImageBytes(std::size_t maxBytes = std::size_t{64} << 20);

// While one lives, in a process where KeepEmbeddedImageBytes() was called, a JPEG read from a
// stream whose frame header gives its size is not decoded: its image holds the size, the
// colour format and the bytes, no pixels. A tile's content embeds those bytes as they are, so
// decoding them would only cost time; what draws or samples the pixels (an overview's
// summaries) must not read images while one lives. Not for two threads reading at once.
class UndecodedJpegs {
public:
    UndecodedJpegs();
    ~UndecodedJpegs();
    UndecodedJpegs(const UndecodedJpegs&) = delete;
    UndecodedJpegs& operator=(const UndecodedJpegs&) = delete;
};

// The size and colour components of a JPEG, from its frame header.
struct JpegFrame {
    int width = 0;
    int height = 0;
    int components = 0;
};

// The frame header of a baseline, extended or progressive JPEG that starts with its
// start-of-image marker and ends with its end-of-image marker; none otherwise (a frame of no
// pixels, of samples other than 8 bits, or of other than 1 or 3 components, included). Reads
// only within `bytes`.
std::optional<JpegFrame> JpegFrameOf(std::string_view bytes);

// The JPEG or PNG bytes the image was decoded from, as kept by KeepEmbeddedImageBytes();
// none when it kept none for this image.
const std::string* EmbeddedImageBytes(const osg::Image& image);

} // namespace brindle
