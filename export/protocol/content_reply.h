#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// A file named by a paged node of a converted file, as the worker found it.
struct FinerName {
    std::string path;    // resolved as a viewer resolves it, in the protocol's path text
    bool pixels = false; // the switch is in pixels on screen, not a distance
    double switchAt = 0;
    double centre[3] = {0, 0, 0}; // the paged node's, in its own coordinates
    double radius = 0;
};

// What the conversion of a file that loads gave, beside its verdict.
struct ContentReply {
    std::uint8_t error = 0; // the ContentError that left the file without content; 0 for none
    double boundsMin[3] = {0, 0, 0};
    double boundsMax[3] = {0, 0, 0};
    std::uint64_t glbBytes = 0;
    std::uint64_t triangles = 0;
    // How many files the file's paged nodes name in all: more than `finer` holds when the
    // worker left some out (beyond kMaxFinerNames, or a path longer than kMaxFinerPath).
    std::uint32_t finerNamed = 0;
    std::vector<FinerName> finer;
};

// The most finer files one reply carries: far more than any paged tile names (a handful a
// node); a file that names more is no tile, and the rest are left out.
constexpr std::size_t kMaxFinerNames = 4096;
// The longest finer file path sent; a longer one is left out.
constexpr std::size_t kMaxFinerPath = 4096;
// The most bytes the finer files of one reply take; those past it are left out.
constexpr std::size_t kMaxContentTrailer = std::size_t{1} << 20;
// The highest ContentError value a reply may carry.
constexpr std::uint8_t kMaxContentError = 4;

// The content's fixed fields, as they sit in the fixed part of a reply, and back. The finer
// files follow the reply, as its trailer, of the size the fixed fields give.
constexpr std::size_t kContentFieldsSize = 1 + 6 * 8 + 8 + 8 + 4 + 4 + 4;
// `trailer` receives the finer files' bytes; the fields say how many.
std::string EncodeContentFields(const ContentReply& content, std::string& trailer);
// The trailer's size the fixed fields state; 0 when they state one no reply may have.
std::size_t ContentTrailerSize(std::string_view fields);
// Nothing for fields or a trailer no worker writes.
std::optional<ContentReply> DecodeContent(std::string_view fields, std::string_view trailer);

} // namespace brindle
