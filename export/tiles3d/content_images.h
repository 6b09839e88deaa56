#pragma once

#include <osg/Image>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace brindle {

// An image as a glTF file embeds it.
struct EncodedImage {
    std::string bytes;
    std::string mimeType; // "image/jpeg" or "image/png"
    bool alpha = false;   // some pixel may be less than opaque
};

struct ContentImageOptions {
    int maxEdge = 8192;   // a texture wider or higher than this is left out
    int jpegQuality = 90; // for pixels encoded again
};

// A tile's textures as the files its content embeds, each at most once. An image keeps the
// JPEG or PNG bytes it was read from when the reader kept them (kept_image_bytes.h); other
// images are encoded from their pixels with the registry's writers: JPEG when opaque, PNG
// when it has alpha. Never throws.
class ContentImages {
public:
    explicit ContentImages(const ContentImageOptions& options) : options_(options) {}

    // The index of the image among images(); none when it cannot be embedded (too large,
    // pixels of a kind not encoded, no writer).
    std::optional<std::size_t> Add(const osg::Image& image);

    const std::vector<EncodedImage>& images() const { return images_; }
    std::size_t kept() const { return kept_; }       // embedded with the bytes they were read from
    std::size_t dropped() const { return dropped_; } // images that could not be embedded

private:
    std::optional<EncodedImage> Encode(const osg::Image& image) const;
    // The index of an image embedded already with these bytes.
    std::optional<std::size_t> Embedded(const std::string& bytes) const;

    ContentImageOptions options_;
    std::vector<EncodedImage> images_;
    std::map<const osg::Image*, std::optional<std::size_t>> byImage_;
    std::unordered_multimap<std::size_t, std::size_t> byHash_; // the bytes' hash to images_
    std::size_t kept_ = 0;
    std::size_t dropped_ = 0;
};

} // namespace brindle
