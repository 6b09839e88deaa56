#pragma once

#include "export/export_report.h"
#include "export/origin/block_origin.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace brindle {

// What reading one report.txt gave: an origin, or a warning saying why there is none.
struct OriginReading {
    std::optional<BlockOrigin> origin;
    std::optional<Problem> problem;
};

// Reads the origin from the second line of a report.txt. The file is only ever opened for
// reading, only when it is a regular file, and only as far as its second line; a file that
// cannot be opened or parsed yields no origin and a warning naming it.
OriginReading ReadBlockOrigin(const std::filesystem::path& reportPath);

// Parses the origin line: X starts at byte 3 and runs to the first capital Y; Y starts three
// bytes after that Y and runs to the first capital Z after it; each is read as atof reads it.
// A full-width colon, as a Chinese input method types it (UTF-8 or GBK), counts as ": ",
// two bytes as it is in GBK, so "X：512345.6" reads 512345.6. Returns nothing for a line too
// short to hold both values, without a capital Y, or where either text starts with no number.
// The values may be infinite or NaN, as atof reads "1e999" or "nan".
std::optional<BlockOrigin> ParseOriginLine(std::string_view line);

// The leading number of a text as the C library's atof reads it in the "C" locale: leading
// white space skipped, optional sign, decimal or hexadecimal, infinity or NaN, out-of-range
// values as infinity or zero. Nothing when no number starts there (where atof gives 0).
std::optional<double> ReadLeadingNumber(std::string_view text);

// ReadLeadingNumber, with atof's 0 when no number starts there.
double ParseLeadingNumber(std::string_view text);

} // namespace brindle
