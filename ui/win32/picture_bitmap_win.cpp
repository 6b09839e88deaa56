#include "picture_bitmap_win.h"

#include <algorithm>
#include <cstring>

namespace brindle::win32 {
namespace {

std::size_t PaddedRowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
}

bool Filled(const ReportImage& picture) {
    return !picture.empty() &&
           picture.rgb.size() == static_cast<std::size_t>(picture.width) * picture.height * 3;
}

} // namespace

std::vector<std::uint8_t> DibPixels(const ReportImage& picture) {
    if (!Filled(picture))
        return {};
    const std::size_t rowBytes = PaddedRowBytes(picture.width);
    std::vector<std::uint8_t> pixels(rowBytes * static_cast<std::size_t>(picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* from =
            picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3;
        std::uint8_t* to = pixels.data() + static_cast<std::size_t>(y) * rowBytes;
        for (int x = 0; x < picture.width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return pixels;
}

HBITMAP BitmapOf(const ReportImage& picture) {
    const std::vector<std::uint8_t> pixels = DibPixels(picture);
    if (pixels.empty())
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height; // the top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        return nullptr;
    }
    std::memcpy(bits, pixels.data(), pixels.size());
    return bitmap;
}

SIZE FittedSize(const ReportImage& picture, int box) {
    if (picture.empty() || box <= 0)
        return SIZE{0, 0};
    const double scale = std::min(static_cast<double>(box) / picture.width,
                                  static_cast<double>(box) / picture.height);
    return SIZE{std::max(1L, static_cast<LONG>(picture.width * scale + 0.5)),
                std::max(1L, static_cast<LONG>(picture.height * scale + 0.5))};
}

ReportImage Resized(const ReportImage& picture, SIZE size) {
    if (!Filled(picture) || size.cx <= 0 || size.cy <= 0)
        return {};
    ReportImage resized;
    resized.width = static_cast<int>(size.cx);
    resized.height = static_cast<int>(size.cy);
    resized.rgb.resize(static_cast<std::size_t>(resized.width) * resized.height * 3);
    const double scaleX = static_cast<double>(picture.width) / resized.width;
    const double scaleY = static_cast<double>(picture.height) / resized.height;
    std::uint8_t* out = resized.rgb.data();
    for (int y = 0; y < resized.height; ++y) {
        const double top = y * scaleY, bottom = (y + 1) * scaleY;
        for (int x = 0; x < resized.width; ++x) {
            const double left = x * scaleX, right = (x + 1) * scaleX;
            double sum[3] = {0, 0, 0}, weights = 0;
            for (int sy = static_cast<int>(top); sy < picture.height && sy < bottom; ++sy) {
                const double shareY = std::min(bottom, sy + 1.0) - std::max(top, double(sy));
                for (int sx = static_cast<int>(left); sx < picture.width && sx < right; ++sx) {
                    const double share =
                        shareY * (std::min(right, sx + 1.0) - std::max(left, double(sx)));
                    const std::uint8_t* rgb =
                        &picture.rgb[(static_cast<std::size_t>(sy) * picture.width + sx) * 3];
                    for (int c = 0; c < 3; ++c)
                        sum[c] += share * rgb[c];
                    weights += share;
                }
            }
            for (int c = 0; c < 3; ++c)
                *out++ = static_cast<std::uint8_t>(
                    std::clamp(weights > 0 ? sum[c] / weights + 0.5 : 0.0, 0.0, 255.0));
        }
    }
    return resized;
}

} // namespace brindle::win32
