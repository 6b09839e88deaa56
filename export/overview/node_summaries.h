#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// A node's summary kept for a later run, in a file of its own beside the node's file in the
// levels' folder: a re-run that builds a node again over children it takes as they are starts
// from these instead of having a worker read each child's file back and draw it. A node taken
// as it is takes its summary's file the same way, linked, so that a run writes only the
// summaries of the nodes it builds.

// The file that keeps the summary of node file `nodeFile` (a name) in the levels' folder
// `folder`.
std::filesystem::path KeptSummaryPath(const std::filesystem::path& folder,
                                      const std::string& nodeFile);

// The file's bytes for the summary `summary` (as EncodeKeptSummary() gives it) of a node whose
// subtree hashed `hash`, a checksum over the whole last.
std::string KeptSummaryBytes(std::uint64_t hash, std::string_view summary);

// The summary in `bytes` when they are whole, exactly as KeptSummaryBytes() writes them, and of
// a subtree that hashed `hash`; nothing otherwise, and the node's file is read back instead.
std::optional<std::string> ParseKeptSummary(std::string_view bytes, std::uint64_t hash);

// ParseKeptSummary() of the regular file `file`, read bounded.
std::optional<std::string> ReadKeptSummary(const std::filesystem::path& file, std::uint64_t hash);

} // namespace brindle
