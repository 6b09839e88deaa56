#pragma once

#include "export/overview/tile_summary.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The most bytes a held summary takes: a block of 10^5 tiles without grid names holds 3 GB
// in scratch, where the summaries as they are (279 KB each) took 28 GB.
constexpr std::size_t kHeldSummaryMaxBytes = 30 * 1024;

// A tile summary as a held tile keeps it until the end of the run: its heights and coverage
// as they are (compressed without loss), its colours as JPEG, as the node file above them
// will hold them anyway, at the highest quality that keeps the whole within
// kHeldSummaryMaxBytes. Only where even the lowest does not fit (coverage and colours as rough
// as noise) is the coverage kept in fewer steps, and then the colours at half their resolution.
// Nothing when the JPEG writer is missing.
std::optional<std::string> EncodeHeldSummary(const TileSummary& summary);

// The summary EncodeHeldSummary() gave these bytes for, its colours as the JPEG decodes them
// (black where nothing covers); nothing when they are not one, whole and alone.
std::optional<TileSummary> DecodeHeldSummary(std::string_view bytes);

// A node's summary as a later run takes it from the levels' folder, where anything may have
// become of it: heights, normals and coverage as a held summary keeps them, its colours at half
// their resolution, each pixel the mean of four as the node above takes them anyway, and
// compressed without loss, so that reading it back decodes no picture in this process. Some
// 40 to 60 KB. Nothing when the summary is not of the summaries' sizes.
std::optional<std::string> EncodeKeptSummary(const TileSummary& summary);

// The summary EncodeKeptSummary() gave these bytes for, each colour the mean of its four
// (black where nothing covers); nothing when they are not one, whole and alone.
std::optional<TileSummary> DecodeKeptSummary(std::string_view bytes);

} // namespace brindle
