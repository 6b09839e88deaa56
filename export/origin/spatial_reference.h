#pragma once

#include "export/export_report.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

struct pj_ctx; // PROJ's context, kept out of every header but this module's source

namespace brindle {

// Real SRS texts are a code ("EPSG:4547") or a WKT of a few KB; a longer one is not handed to
// the projection library at all.
constexpr std::size_t kMaxSrsTextBytes = 16 * 1024;

// A local east-north-up frame, "ENU:lat,lon": its origin in degrees.
struct EnuFrame {
    double latitude = 0.0;
    double longitude = 0.0;
};

// "ENU:lat,lon" (any case, spaces around the numbers), with a latitude within ±90 and a
// longitude within ±180; nothing for any other text.
std::optional<EnuFrame> ParseEnuFrame(std::string_view text);

// Tells what spatial references are and whether two are the same. Each holds its own context
// of the projection library: make one per use or per run, and use it from one thread at a
// time. It never prints, and never reaches for the network.
class SpatialReferences {
public:
    SpatialReferences();
    ~SpatialReferences();
    SpatialReferences(const SpatialReferences&) = delete;
    SpatialReferences& operator=(const SpatialReferences&) = delete;

    // What `text` (an SRS as metadata.xml writes it) is: any text at all gives a kind.
    SrsKind kindOf(std::string_view text);
    // True when `a` and `b` name the same CRS, however written ("EPSG:4547" and its WKT), or
    // the same ENU frame; texts the library cannot read are the same when equal once trimmed.
    bool same(std::string_view a, std::string_view b);

private:
    struct ContextDeleter {
        void operator()(pj_ctx* context) const;
    };
    std::unique_ptr<pj_ctx, ContextDeleter> context_;
};

// The blocks of the folder of blocks `folder` each with its SRS: when any two differ, the
// warning (BlocksSrsDiffer) that names every one of them; nothing when they all agree.
std::optional<Problem> BlocksInDifferentSrs(const std::filesystem::path& folder,
                                            const std::vector<SrsOf>& blocks);

} // namespace brindle
