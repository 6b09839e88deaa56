#pragma once

#include <osg/Image>

#include <cstddef>
#include <string>

namespace brindle {

// A binary scene decodes the JPEG and PNG files it embeds as it reads them and drops their
// bytes: the images it gives hold pixels only, with the file's name. To embed those files as
// they were rather than encode the pixels again, a worker that converts tiles has the
// registry's JPEG and PNG readers keep the bytes of every image they decode from a stream
// (at most maxBytes of them an image), on the image itself. It changes the scene-graph
// library's process-wide registry: call it once, in a worker, before it reads a tile. False
// when the registry has no JPEG or PNG reader.
bool KeepEmbeddedImageBytes(std::size_t maxBytes = std::size_t{64} << 20);

// The JPEG or PNG bytes the image was decoded from, as kept by KeepEmbeddedImageBytes();
// none when it kept none for this image.
const std::string* EmbeddedImageBytes(const osg::Image& image);

} // namespace brindle
