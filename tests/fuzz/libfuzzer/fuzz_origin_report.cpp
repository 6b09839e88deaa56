// report.txt comes with the tiles. Its reader works on the file in chunks, a byte at a time;
// what it gives must be what the origin line parser gives for the file's second line, cut
// out here the simple way (the whole file decoded, then split), wherever the chunks happen to
// split the text; and an origin that is not finite is never given.
#include "export/origin/origin_report.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool SameNumber(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// A report whose first or second line is longer than this holds no origin.
constexpr std::size_t kMaxLineLength = 64 * 1024;

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The whole file as UTF-8 text: a UTF-8 byte-order mark dropped, a UTF-16 one (either byte
// order) decoded, unpaired surrogates as U+FFFD; a high surrogate or a lone byte at the very
// end is dropped.
std::string DecodedText(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return std::string(bytes.substr(3));
    const bool little = bytes.substr(0, 2) == "\xFF\xFE";
    if (!little && bytes.substr(0, 2) != "\xFE\xFF")
        return std::string(bytes);
    std::string text;
    unsigned high = 0;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        const unsigned unit = little ? a | (b << 8) : (a << 8) | b;
        const bool isLow = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high != 0 && isLow) {
            AppendUtf8(text, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            high = 0;
            continue;
        }
        if (high != 0)
            AppendUtf8(text, 0xFFFD);
        high = 0;
        if (unit >= 0xD800 && unit <= 0xDBFF)
            high = unit;
        else
            AppendUtf8(text, isLow ? 0xFFFD : unit);
    }
    return text;
}

// The second line of the file, lines ending at "\r\n", "\n" or a lone "\r"; nothing when there
// is none, or when either of the first two lines is too long to be an origin line.
std::optional<std::string> SecondLine(std::string_view bytes) {
    const std::string text = DecodedText(bytes);
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size() && lines.size() <= 2; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            lines.emplace_back();
            continue;
        }
        lines.back().push_back(c);
    }
    if (lines[0].size() > kMaxLineLength)
        return std::nullopt;
    if (lines.size() < 2 || (lines.size() == 2 && lines[1].empty()))
        return std::nullopt;
    if (lines[1].size() > kMaxLineLength)
        return std::nullopt;
    return lines[1];
}

// The file each input is written to, removed as the fuzzer ends.
struct ScratchFile {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("brindle-fuzz-report-" + std::to_string(getpid()) + ".txt");
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

const std::filesystem::path& ReportFile() {
    static const ScratchFile file;
    return file.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace brindle;

    const std::optional<BlockOrigin> direct = ParseOriginLine(bytes);
    if (direct)
        Check(bytes.find('Y') != std::string_view::npos);
    ParseLeadingNumber(bytes);

    {
        std::ofstream out(ReportFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        Check(static_cast<bool>(out.flush()));
    }
    const OriginReading reading = ReadBlockOrigin(ReportFile());
    Check(reading.origin.has_value() != reading.problem.has_value());
    const std::optional<std::string> line = SecondLine(bytes);
    const std::optional<BlockOrigin> expected =
        line ? ParseOriginLine(*line) : std::optional<BlockOrigin>();
    const bool finite = expected && std::isfinite(expected->x) && std::isfinite(expected->y);
    Check(reading.origin.has_value() == finite);
    if (finite) {
        Check(SameNumber(reading.origin->x, expected->x));
        Check(SameNumber(reading.origin->y, expected->y));
    }
    return 0;
}
