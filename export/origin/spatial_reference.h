#pragma once

#include "export/export_report.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct pj_ctx; // PROJ's context, kept out of every header but this module's sources

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

// The projection library as the system's loader finds it ("libproj.so.25"), where it is
// loaded when first needed; where it is linked into the program, its name alone.
const char* ProjLibraryName();

class ProjLibrary;
class GlobeTransform;

// Tells what spatial references are and whether two are the same. Each holds its own context
// of the projection library: make one per use or per run, and use it from one thread at a
// time. It never prints, and never reaches for the network. The library is loaded only when a
// text first needs it (an ENU frame does not), and once for each of these.
class SpatialReferences {
public:
    // `library`: the projection library's name for the system's loader, where it is loaded.
    explicit SpatialReferences(std::string library = ProjLibraryName());
    ~SpatialReferences();
    SpatialReferences(const SpatialReferences&) = delete;
    SpatialReferences& operator=(const SpatialReferences&) = delete;

    // What `text` (an SRS as metadata.xml writes it) is: any text at all gives a kind.
    SrsKind kindOf(std::string_view text) { return identify(text).value_or(SrsKind::Unknown); }
    // The same, but nothing when the text needed the library and it could not be loaded.
    std::optional<SrsKind> identify(std::string_view text);
    // True when `a` and `b` name the same CRS, however written ("EPSG:4547" and its WKT), or
    // the same ENU frame; texts the library cannot read are the same when equal once trimmed.
    bool same(std::string_view a, std::string_view b);

    // How points of the CRS `text` are taken onto the globe, valid while this lives; nothing
    // for a text that is no CRS, an ENU frame, or a CRS the library finds no way from.
    std::unique_ptr<GlobeTransform> globeTransform(std::string_view text);

    // Takes `kind` as what `text` is, as an earlier run found it, without asking the library.
    void remember(std::string text, SrsKind kind);
    // What the library told of texts since this was made, in the order asked: for keeping.
    const std::vector<std::pair<std::string, SrsKind>>& learnt() const { return learnt_; }

    // True once the library has been loaded (and not only linked) for this one.
    bool loadedLibrary() const { return loaded_; }
    // What the loader said when the library was needed and could not be loaded; every SRS but
    // an ENU frame is then unknown, as in a build without the library.
    const std::optional<std::string>& libraryMissing() const { return missing_; }
    const std::string& library() const { return libraryName_; }

private:
    // The library's context, loading the library first when this is its first use; nullptr
    // when it cannot be had.
    pj_ctx* context();

    struct ContextDeleter {
        const ProjLibrary* library; // value-initialised: none
        void operator()(pj_ctx* context) const;
    };
    std::map<std::string, SrsKind, std::less<>> known_; // remembered or learnt, by text
    std::vector<std::pair<std::string, SrsKind>> learnt_;
    std::string libraryName_;
    bool tried_ = false;
    bool loaded_ = false;
    std::optional<std::string> missing_;
    std::unique_ptr<ProjLibrary> library_; // outlives the context made with it
    std::unique_ptr<pj_ctx, ContextDeleter> context_;
};

// The blocks of the folder of blocks `folder` each with its SRS: when any two differ, the
// warning (BlocksSrsDiffer) that names every one of them; nothing when they all agree.
std::optional<Problem> BlocksInDifferentSrs(const std::filesystem::path& folder,
                                            const std::vector<SrsOf>& blocks);
// The same, asking `references` (the run's, whose library may be loaded already).
std::optional<Problem> BlocksInDifferentSrs(const std::filesystem::path& folder,
                                            const std::vector<SrsOf>& blocks,
                                            SpatialReferences& references);

} // namespace brindle
