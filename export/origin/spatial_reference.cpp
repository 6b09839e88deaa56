#include "export/origin/spatial_reference.h"

#include "export/origin/globe_transform.h"

#include "export/text/plain_number.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#ifdef BRINDLE_HAVE_PROJ
#include "export/origin/proj_library.h"
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace brindle {

#ifndef BRINDLE_HAVE_PROJ
class ProjLibrary {}; // none in a build without PROJ
#endif

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

#ifdef BRINDLE_HAVE_PROJ

// PROJ objects, released with the context they were made in.
struct ObjectDeleter {
    const ProjCalls* proj = nullptr;
    void operator()(PJ* object) const { proj->destroy(object); }
};
using Object = std::unique_ptr<PJ, ObjectDeleter>;

Object Own(const ProjCalls& proj, PJ* object) {
    return Object(object, ObjectDeleter{&proj});
}

void IgnoreMessage(void*, int, const char*) {}

// The folder the program lies in, where the Windows package puts proj.db; PROJ takes UTF-8.
#ifdef _WIN32
std::string ProgramFolder() {
    std::wstring name(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    return std::filesystem::path(name).parent_path().u8string();
}
#endif

// A PROJ string that names a projection but not a CRS ("+proj=longlat +datum=WGS84") is read
// as the CRS it describes, as surveying software writes it.
std::string AsCrsDefinition(std::string_view text) {
    std::string definition(text);
    if (StartsWithNoCase(text, "+proj=") && definition.find("+type=crs") == std::string::npos)
        definition += " +type=crs";
    return definition;
}

// The texts no CRS is made of: none, or one the library is not to be handed.
bool NoCrsText(std::string_view text) {
    text = TrimmedSpace(text);
    return text.empty() || text.size() > kMaxSrsTextBytes ||
           text.find('\0') != std::string_view::npos;
}

Object CreateCrs(const ProjCalls& proj, PJ_CONTEXT* context, std::string_view text) {
    if (!context || NoCrsText(text))
        return Own(proj, nullptr);
    Object object = Own(proj, proj.create(context, AsCrsDefinition(TrimmedSpace(text)).c_str()));
    if (object && !proj.is_crs(object.get()))
        object.reset();
    return object;
}

SrsKind KindOfCrs(const ProjCalls& proj, PJ_CONTEXT* context, const PJ* crs, int depth) {
    if (!crs || depth > 4)
        return SrsKind::Unknown;
    switch (proj.get_type(crs)) {
    case PJ_TYPE_PROJECTED_CRS:
    case PJ_TYPE_GEOCENTRIC_CRS:
        return SrsKind::Projected;
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
        return SrsKind::Geographic;
    case PJ_TYPE_GEODETIC_CRS: {
        // Geodetic in general: its axes tell degrees from metres.
        const Object system = Own(proj, proj.crs_get_coordinate_system(context, crs));
        if (!system)
            return SrsKind::Unknown;
        switch (proj.cs_get_type(context, system.get())) {
        case PJ_CS_TYPE_ELLIPSOIDAL:
            return SrsKind::Geographic;
        case PJ_CS_TYPE_CARTESIAN:
            return SrsKind::Projected;
        default:
            return SrsKind::Unknown;
        }
    }
    case PJ_TYPE_COMPOUND_CRS: {
        // The horizontal part decides; the vertical part is in metres either way.
        const Object horizontal = Own(proj, proj.crs_get_sub_crs(context, crs, 0));
        return KindOfCrs(proj, context, horizontal.get(), depth + 1);
    }
    case PJ_TYPE_BOUND_CRS: {
        const Object source = Own(proj, proj.get_source_crs(context, crs));
        return KindOfCrs(proj, context, source.get(), depth + 1);
    }
    default:
        return SrsKind::Unknown;
    }
}

// The same CRS, whatever the order of a geographic CRS's axes, or the same authority's code
// for it: a WKT without axes (east, north by default) names EPSG:4547 (north, east) too.
bool Equivalent(const ProjCalls& proj, PJ_CONTEXT* context, const PJ* a, const PJ* b) {
    if (proj.is_equivalent_to_with_ctx(context, a, b,
                                       PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0)
        return true;
    const char* authorityA = proj.get_id_auth_name(a, 0);
    const char* authorityB = proj.get_id_auth_name(b, 0);
    const char* codeA = proj.get_id_code(a, 0);
    const char* codeB = proj.get_id_code(b, 0);
    return authorityA && authorityB && codeA && codeB &&
           std::string_view(authorityA) == authorityB && std::string_view(codeA) == codeB;
}

#endif

} // namespace

std::optional<EnuFrame> ParseEnuFrame(std::string_view text) {
    text = TrimmedSpace(text);
    if (!StartsWithNoCase(text, "enu:"))
        return std::nullopt;
    text.remove_prefix(4);
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const std::optional<double> latitude = PlainFiniteNumber(text.substr(0, comma));
    const std::optional<double> longitude = PlainFiniteNumber(text.substr(comma + 1));
    if (!latitude || !longitude || std::abs(*latitude) > 90.0 || std::abs(*longitude) > 180.0)
        return std::nullopt;
    return EnuFrame{*latitude, *longitude};
}

const char* ProjLibraryName() {
#ifdef BRINDLE_PROJ_LIBRARY
    return BRINDLE_PROJ_LIBRARY;
#else
    return "PROJ";
#endif
}

void SpatialReferences::ContextDeleter::operator()(pj_ctx* context) const {
#ifdef BRINDLE_HAVE_PROJ
    library->calls().context_destroy(context);
#else
    (void)context;
#endif
}

SpatialReferences::SpatialReferences(std::string library) : libraryName_(std::move(library)) {}

SpatialReferences::~SpatialReferences() = default;

void SpatialReferences::remember(std::string text, SrsKind kind) {
    known_.insert_or_assign(std::move(text), kind);
}

pj_ctx* SpatialReferences::context() {
#ifdef BRINDLE_HAVE_PROJ
    if (tried_)
        return context_.get();
    tried_ = true;
    std::string why;
    library_ = ProjLibrary::Load(libraryName_, why);
    if (!library_) {
        missing_ = why;
        return nullptr;
    }
#ifdef BRINDLE_PROJ_LIBRARY
    loaded_ = true;
#endif
    const ProjCalls& proj = library_->calls();
    context_ = std::unique_ptr<pj_ctx, ContextDeleter>(proj.context_create(),
                                                       ContextDeleter{library_.get()});
    if (!context_)
        return nullptr;
    // The library's messages would go to stderr; the export library never prints.
    proj.log_func(context_.get(), nullptr, IgnoreMessage);
    proj.context_set_enable_network(context_.get(), 0);
#ifdef _WIN32
    const std::string folder = ProgramFolder();
    const char* paths[] = {folder.c_str()};
    if (!folder.empty())
        proj.context_set_search_paths(context_.get(), 1, paths);
#endif
    return context_.get();
#else
    return nullptr;
#endif
}

std::optional<SrsKind> SpatialReferences::identify(std::string_view text) {
    if (ParseEnuFrame(text))
        return SrsKind::Enu;
#ifdef BRINDLE_HAVE_PROJ
    // A text no CRS is made of needs no library to say so.
    if (NoCrsText(text))
        return SrsKind::Unknown;
    if (const auto known = known_.find(text); known != known_.end())
        return known->second;
    pj_ctx* const proj = context();
    if (!proj)
        return missing_ ? std::nullopt : std::optional<SrsKind>(SrsKind::Unknown);
    const ProjCalls& calls = library_->calls();
    const Object crs = CreateCrs(calls, proj, text);
    const SrsKind kind = KindOfCrs(calls, proj, crs.get(), 0);
    known_.emplace(text, kind);
    learnt_.emplace_back(text, kind);
    return kind;
#else
    return SrsKind::Unknown;
#endif
}

std::unique_ptr<GlobeTransform> SpatialReferences::globeTransform(std::string_view text) {
#ifdef BRINDLE_HAVE_PROJ
    if (ParseEnuFrame(text) || NoCrsText(text))
        return nullptr;
    pj_ctx* const proj = context();
    if (!proj)
        return nullptr;
    const Object crs = CreateCrs(library_->calls(), proj, text);
    return GlobeTransform::Make(library_->calls(), proj, crs.get());
#else
    (void)text;
    return nullptr;
#endif
}

bool SpatialReferences::same(std::string_view a, std::string_view b) {
    const std::optional<EnuFrame> enuA = ParseEnuFrame(a);
    const std::optional<EnuFrame> enuB = ParseEnuFrame(b);
    if (enuA || enuB)
        return enuA && enuB && enuA->latitude == enuB->latitude &&
               enuA->longitude == enuB->longitude;
#ifdef BRINDLE_HAVE_PROJ
    if (pj_ctx* const proj = (NoCrsText(a) && NoCrsText(b)) ? nullptr : context()) {
        const ProjCalls& calls = library_->calls();
        const Object crsA = CreateCrs(calls, proj, a);
        const Object crsB = CreateCrs(calls, proj, b);
        if (crsA && crsB)
            return Equivalent(calls, proj, crsA.get(), crsB.get());
        if (crsA || crsB)
            return false;
    }
#endif
    return TrimmedSpace(a) == TrimmedSpace(b);
}

std::optional<Problem> BlocksInDifferentSrs(const std::filesystem::path& folder,
                                            const std::vector<SrsOf>& blocks) {
    if (blocks.size() < 2)
        return std::nullopt;
    SpatialReferences references;
    return BlocksInDifferentSrs(folder, blocks, references);
}

std::optional<Problem> BlocksInDifferentSrs(const std::filesystem::path& folder,
                                            const std::vector<SrsOf>& blocks,
                                            SpatialReferences& references) {
    if (blocks.size() < 2)
        return std::nullopt;
    // Blocks mostly share one SRS, written alike: the text decides before the library does.
    const bool agree = std::all_of(blocks.begin() + 1, blocks.end(), [&](const SrsOf& block) {
        return TrimmedSpace(block.srs) == TrimmedSpace(blocks.front().srs) ||
               references.same(block.srs, blocks.front().srs);
    });
    if (agree)
        return std::nullopt;
    return Problem{ProblemKind::BlocksSrsDiffer, folder, {}, blocks};
}

} // namespace brindle
