// report.txt comes with the tiles. Its reader works on the file in chunks; what it gives must
// be what the origin line parser gives for the file's second line, cut out here the simple
// way, wherever the chunks happen to split the text.
#include "export/origin_report.h"

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

// The second line of `text` as text mode reads it, or nothing when there is none.
std::optional<std::string> SecondLine(std::string_view text) {
    const std::size_t first = text.find('\n');
    if (first == std::string_view::npos || first > kMaxLineLength)
        return std::nullopt;
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.find('\n');
    if (second == std::string_view::npos && rest.empty())
        return std::nullopt;
    std::string line(rest.substr(0, second));
    if (line.size() > kMaxLineLength)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
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
    Check(reading.origin.has_value() == expected.has_value());
    if (expected) {
        Check(SameNumber(reading.origin->x, expected->x));
        Check(SameNumber(reading.origin->y, expected->y));
    }
    return 0;
}
