#include "export/overview/held_summary_codec.h"

#include "export/fs/byte_fields.h"

#include <osg/Image>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace brindle {
namespace {

constexpr std::string_view kMagic = "BHS1";
constexpr std::string_view kKeptMagic = "BKS1";
constexpr std::size_t kHeightBytes = std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples * 4;
constexpr std::size_t kPixelCount = std::size_t{kSummaryColourPixels} * kSummaryColourPixels;
constexpr int kHalf = kSummaryColourPixels / 2;
constexpr std::size_t kHalvedBytes = std::size_t{3} * kHalf * kHalf;
// From the best down: each step a third or so fewer bytes on photographs.
constexpr std::array<int, 8> kJpegQualities{92, 85, 75, 60, 45, 30, 20, 10};
// Coverage kept exactly, then, only where even that does not fit (a coverage as rough as
// noise, which no raster of a real surface gives), in 16, 4 and 2 steps.
constexpr std::array<int, 4> kCoverageSteps{256, 16, 4, 2};

void PutPart(std::string& out, const std::string& part) {
    PutField(out, static_cast<std::uint32_t>(part.size()));
    out += part;
}

bool TakePart(std::string_view& in, std::string_view& part) {
    std::uint32_t size = 0;
    if (!TakeField(in, size) || in.size() < size)
        return false;
    part = in.substr(0, size);
    in.remove_prefix(size);
    return true;
}

std::string Deflated(const std::string& bytes, int level = Z_BEST_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  level) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// Exactly `size` bytes inflated from `part`, or nothing.
std::optional<std::string> Inflated(std::string_view part, std::size_t size) {
    std::string out(size, '\0');
    uLongf made = static_cast<uLongf>(size);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &made,
                   reinterpret_cast<const Bytef*>(part.data()),
                   static_cast<uLong>(part.size())) != Z_OK ||
        made != size)
        return std::nullopt;
    return out;
}

std::uint32_t BitsOf(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// What sample k's bits are predicted to be from the samples before it: the plane through its
// left, lower and lower-left neighbours where all three have heights (exact on a triangle's
// inside, where the raster interpolates linearly), else a neighbour's height, else nothing.
std::uint32_t PredictedBits(const std::vector<float>& heights, std::size_t k) {
    constexpr std::size_t kRow = kSummaryHeightSamples;
    const bool hasLeft = k % kRow != 0, hasBelow = k >= kRow;
    const float left = hasLeft ? heights[k - 1] : kNoHeight;
    const float below = hasBelow ? heights[k - kRow] : kNoHeight;
    const float diagonal = hasLeft && hasBelow ? heights[k - kRow - 1] : kNoHeight;
    if (IsHeight(left) && IsHeight(below) && IsHeight(diagonal))
        return BitsOf(left + below - diagonal);
    if (IsHeight(left))
        return BitsOf(left);
    if (IsHeight(below))
        return BitsOf(below);
    return hasLeft ? BitsOf(left) : hasBelow ? BitsOf(below) : 0;
}

// Heights as the differences of their bits from the bits predicted for them, byte by byte in
// four planes: on a surface the differences are small, so their high planes are runs that
// deflate well, and every bit comes back.
std::string HeightPlanes(const TileSummary& summary) {
    std::string planes(kHeightBytes, '\0');
    const std::size_t count = kHeightBytes / 4;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t difference =
            BitsOf(summary.heights[k]) - PredictedBits(summary.heights, k);
        for (std::size_t plane = 0; plane < 4; ++plane)
            planes[plane * count + k] = static_cast<char>(difference >> (8 * plane));
    }
    return planes;
}

void HeightsFromPlanes(const std::string& planes, TileSummary& summary) {
    const std::size_t count = kHeightBytes / 4;
    for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t difference = 0;
        for (std::size_t plane = 0; plane < 4; ++plane)
            difference |= std::uint32_t{static_cast<unsigned char>(planes[plane * count + k])}
                          << (8 * plane);
        const std::uint32_t bits = PredictedBits(summary.heights, k) + difference;
        std::memcpy(&summary.heights[k], &bits, 4);
    }
}

// The colours with what no tile covers filled from the nearest covered pixel of its row, or of
// the nearest row that has one: a JPEG of a sharp edge to black rings into the covered side.
osg::ref_ptr<osg::Image> FilledColours(const TileSummary& summary) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kSummaryColourPixels, kSummaryColourPixels, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::copy(summary.colour.begin(), summary.colour.end(), image->data());
    std::vector<bool> rowFilled(kSummaryColourPixels, false);
    for (int j = 0; j < kSummaryColourPixels; ++j) {
        int last = -1;
        for (int i = 0; i < kSummaryColourPixels; ++i)
            if (summary.Coverage(i, j) > 0)
                last = i;
            else if (last >= 0)
                std::copy_n(image->data(last, j), 3, image->data(i, j));
        int first = 0;
        while (first < kSummaryColourPixels && summary.Coverage(first, j) == 0)
            ++first;
        for (int i = 0; i < first && last >= 0; ++i)
            std::copy_n(image->data(first, j), 3, image->data(i, j));
        rowFilled[static_cast<std::size_t>(j)] = last >= 0;
    }
    const std::size_t row = std::size_t{kSummaryColourPixels} * 3;
    for (int pass = 0; pass < 2; ++pass) {
        // Up, then down: each empty row takes the nearest filled one's colours.
        for (int step = 0; step < kSummaryColourPixels; ++step) {
            const int j = pass == 0 ? step : kSummaryColourPixels - 1 - step;
            const int from = pass == 0 ? j - 1 : j + 1;
            if (rowFilled[static_cast<std::size_t>(j)] || from < 0 ||
                from >= kSummaryColourPixels || !rowFilled[static_cast<std::size_t>(from)])
                continue;
            std::copy_n(image->data(0, from), row, image->data(0, j));
            rowFilled[static_cast<std::size_t>(j)] = true;
        }
    }
    return image;
}

// The colours at half their resolution, each pixel the mean of four: what a kept summary holds,
// and a held one's last resort for colours as rough as noise, which no JPEG of the full ones
// fits beside exact heights.
osg::ref_ptr<osg::Image> HalvedColours(const osg::Image& full) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kHalf, kHalf, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int j = 0; j < kHalf; ++j) {
        // Rows by their starts: the image works out where a pixel lies anew for each.
        const unsigned char* lower = full.data(0, 2 * j);
        const unsigned char* upper = full.data(0, 2 * j + 1);
        unsigned char* to = image->data(0, j);
        for (int k = 0; k < 3 * kHalf; ++k) {
            const int at = 6 * (k / 3) + k % 3;
            to[k] = static_cast<unsigned char>(
                (lower[at] + lower[at + 3] + upper[at] + upper[at + 3] + 2) / 4);
        }
    }
    return image;
}

osgDB::ReaderWriter* JpegCodec() {
    return osgDB::Registry::instance()->getReaderWriterForExtension("jpg");
}

std::optional<std::string> Jpeg(const osg::Image& image, int quality, osgDB::ReaderWriter& jpeg) {
    const osg::ref_ptr<osgDB::Options> options =
        new osgDB::Options("JPEG_QUALITY " + std::to_string(quality));
    std::ostringstream out;
    if (!jpeg.writeImage(image, out, options.get()).success())
        return std::nullopt;
    return out.str();
}

bool CoversAny(const TileSummary& summary) {
    return std::any_of(summary.coverage.begin(), summary.coverage.end(),
                       [](std::uint8_t c) { return c > 0; });
}

// The coverage in `steps` steps from 0 to 255, 0 and 255 kept: what a node weighs its colours
// by, a little coarser.
std::string CoverageIn(const TileSummary& summary, int steps) {
    std::string bytes(summary.coverage.begin(), summary.coverage.end());
    if (steps >= 256)
        return bytes;
    const double step = 255.0 / (steps - 1);
    for (char& byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        // A pixel covered at all stays covered: its colour is kept only where it is.
        const double level = std::max(value > 0 ? 1.0 : 0.0, std::floor(value / step + 0.5));
        byte = static_cast<char>(RoundedByte(level * step));
    }
    return bytes;
}

// The summary's extent, its three ways of being drawn, its heights and its normals, after
// `magic`: what both encodings share. Empty when the summary is not of the summaries' sizes.
std::string SummaryHead(const TileSummary& summary, std::string_view magic) {
    if (summary.heights.size() * 4 != kHeightBytes || summary.coverage.size() != kPixelCount ||
        summary.colour.size() != kPixelCount * 3)
        return {};
    std::string head(magic);
    PutField(head, summary.extent.minX);
    PutField(head, summary.extent.minY);
    PutField(head, summary.extent.maxX);
    PutField(head, summary.extent.maxY);
    PutField(head, static_cast<std::uint8_t>(summary.lit ? 1 : 0));
    PutField(head, static_cast<std::uint8_t>(summary.withNormals ? 1 : 0));
    PutField(head, static_cast<std::uint8_t>(summary.ownColours ? 1 : 0));
    const std::string heights = Deflated(HeightPlanes(summary));
    // A tile without normals of its own has its default normal at every sample: next to nothing
    // once deflated.
    const std::string normals =
        Deflated(std::string(summary.normals.begin(), summary.normals.end()));
    if (heights.empty() || normals.empty())
        return {};
    PutPart(head, heights);
    PutPart(head, normals);
    return head;
}

// SummaryHead() read back into `summary`, with its coverage; `colour` the part after them, as
// its encoding left it. False when the bytes are not one summary, whole and alone.
bool TakeSummaryHead(std::string_view bytes, std::string_view magic, TileSummary& summary,
                     std::string_view& colour) {
    if (bytes.substr(0, magic.size()) != magic)
        return false;
    bytes.remove_prefix(magic.size());
    std::uint8_t lit = 0, withNormals = 0, ownColours = 0;
    std::string_view heights, normals, coverage;
    if (!TakeField(bytes, summary.extent.minX) || !TakeField(bytes, summary.extent.minY) ||
        !TakeField(bytes, summary.extent.maxX) || !TakeField(bytes, summary.extent.maxY) ||
        !TakeField(bytes, lit) || lit > 1 || !TakeField(bytes, withNormals) || withNormals > 1 ||
        !TakeField(bytes, ownColours) || ownColours > 1 || !TakePart(bytes, heights) ||
        !TakePart(bytes, normals) || !TakePart(bytes, coverage) || !TakePart(bytes, colour) ||
        !bytes.empty())
        return false;
    summary.lit = lit == 1;
    summary.withNormals = withNormals == 1;
    summary.ownColours = ownColours == 1;
    const std::optional<std::string> planes = Inflated(heights, kHeightBytes);
    const std::optional<std::string> normalBytes = Inflated(normals, summary.normals.size());
    const std::optional<std::string> covered = Inflated(coverage, kPixelCount);
    if (!planes || !normalBytes || !covered)
        return false;
    HeightsFromPlanes(*planes, summary);
    // A component of -128 is no normal the worker gives, as its own encoding holds.
    if (std::find(normalBytes->begin(), normalBytes->end(), static_cast<char>(-128)) !=
        normalBytes->end())
        return false;
    std::transform(normalBytes->begin(), normalBytes->end(), summary.normals.begin(),
                   [](char byte) { return static_cast<std::int8_t>(byte); });
    std::copy(covered->begin(), covered->end(), summary.coverage.begin());
    return true;
}

// The colours of the covered pixels from rows of RGB bytes (`row(j)`, the row of pixel row
// j >> shift), at full resolution or at half, each of their pixels standing for four.
template <typename Row> void PutColours(TileSummary& summary, int shift, Row&& row) {
    for (int j = 0; j < kSummaryColourPixels; ++j) {
        const unsigned char* colours = row(j >> shift);
        for (int i = 0; i < kSummaryColourPixels; ++i)
            if (summary.Coverage(i, j) > 0)
                std::copy_n(colours + std::size_t{3} * static_cast<std::size_t>(i >> shift), 3,
                            summary.Colour(i, j));
    }
}

// An image's rows, each byte less the byte of the same colour to its left: a photograph's
// neighbouring pixels are alike, so the differences deflate far better than the colours do.
std::string RowDifferences(const osg::Image& image) {
    const int width = image.s(), height = image.t();
    std::string out(std::size_t{3} * width * height, '\0');
    for (int j = 0; j < height; ++j) {
        const unsigned char* row = image.data(0, j);
        char* to = out.data() + std::size_t{3} * width * j;
        for (int k = 0; k < 3 * width; ++k)
            to[k] = static_cast<char>(row[k] - (k >= 3 ? row[k - 3] : 0));
    }
    return out;
}

void UndoRowDifferences(std::string& rows) {
    const std::size_t width = std::size_t{3} * kHalf;
    for (std::size_t start = 0; start + width <= rows.size(); start += width)
        for (std::size_t k = 3; k < width; ++k)
            rows[start + k] = static_cast<char>(static_cast<unsigned char>(rows[start + k]) +
                                                static_cast<unsigned char>(rows[start + k - 3]));
}

} // namespace

std::optional<std::string> EncodeHeldSummary(const TileSummary& summary) {
    const std::string head = SummaryHead(summary, kMagic);
    if (head.empty())
        return std::nullopt;
    osgDB::ReaderWriter* jpeg = CoversAny(summary) ? JpegCodec() : nullptr;
    if (CoversAny(summary) && jpeg == nullptr)
        return std::nullopt;
    const osg::ref_ptr<osg::Image> colours = jpeg ? FilledColours(summary) : nullptr;
    std::optional<std::string> whole;
    for (std::size_t stage = 0; stage <= kCoverageSteps.size(); ++stage) {
        const bool halved = stage == kCoverageSteps.size();
        const int steps = kCoverageSteps[halved ? stage - 1 : stage];
        const std::string coverage = Deflated(CoverageIn(summary, steps));
        if (coverage.empty())
            return std::nullopt;
        for (const int quality : kJpegQualities) {
            whole = head;
            PutPart(*whole, coverage);
            if (!jpeg) {
                PutPart(*whole, std::string());
                return whole;
            }
            const std::optional<std::string> colour =
                Jpeg(halved ? *HalvedColours(*colours) : *colours, quality, *jpeg);
            if (!colour)
                return std::nullopt;
            PutPart(*whole, *colour);
            if (whole->size() <= kHeldSummaryMaxBytes)
                return whole;
        }
    }
    return whole;
}

std::optional<TileSummary> DecodeHeldSummary(std::string_view bytes) {
    TileSummary summary;
    std::string_view colour;
    if (!TakeSummaryHead(bytes, kMagic, summary, colour))
        return std::nullopt;
    if (colour.empty())
        return CoversAny(summary) ? std::nullopt : std::optional<TileSummary>(std::move(summary));
    osgDB::ReaderWriter* jpeg = JpegCodec();
    if (jpeg == nullptr)
        return std::nullopt;
    std::istringstream in{std::string(colour)};
    osgDB::ReaderWriter::ReadResult read = jpeg->readImage(in);
    const osg::Image* image = read.getImage();
    // Full, or at half the resolution, each of its pixels standing for four.
    const int shift = image && image->s() == kSummaryColourPixels / 2 ? 1 : 0;
    if (image == nullptr || image->s() != kSummaryColourPixels >> shift ||
        image->t() != kSummaryColourPixels >> shift || image->getPixelFormat() != GL_RGB ||
        image->getDataType() != GL_UNSIGNED_BYTE)
        return std::nullopt;
    // A row at a time: the image works out where a pixel lies anew for each.
    PutColours(summary, shift, [&](int row) { return image->data(0, row); });
    return summary;
}

std::optional<std::string> EncodeKeptSummary(const TileSummary& summary) {
    std::string whole = SummaryHead(summary, kKeptMagic);
    const std::string coverage = Deflated(CoverageIn(summary, 256));
    if (whole.empty() || coverage.empty())
        return std::nullopt;
    PutPart(whole, coverage);
    if (!CoversAny(summary)) {
        PutPart(whole, std::string());
        return whole;
    }
    // The best compression takes ten times as long for a tenth fewer bytes: each node a re-run
    // builds waits for it.
    const std::string colour =
        Deflated(RowDifferences(*HalvedColours(*FilledColours(summary))), Z_BEST_SPEED);
    if (colour.empty())
        return std::nullopt;
    PutPart(whole, colour);
    return whole;
}

std::optional<TileSummary> DecodeKeptSummary(std::string_view bytes) {
    TileSummary summary;
    std::string_view colour;
    if (!TakeSummaryHead(bytes, kKeptMagic, summary, colour))
        return std::nullopt;
    if (colour.empty())
        return CoversAny(summary) ? std::nullopt : std::optional<TileSummary>(std::move(summary));
    std::optional<std::string> halved = Inflated(colour, kHalvedBytes);
    if (!halved)
        return std::nullopt;
    UndoRowDifferences(*halved);
    const auto* rows = reinterpret_cast<const unsigned char*>(halved->data());
    PutColours(summary, 1, [&](int row) { return rows + std::size_t{3} * kHalf * row; });
    return summary;
}

} // namespace brindle
