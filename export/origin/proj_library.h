#pragma once

// The projection library's functions this module calls, through one table. Where the library
// is a shared one of the system (Linux), it is loaded when a spatial reference first has to be
// identified, not when the program starts: it brings some sixty libraries with it, and a run
// over folders whose SRS an earlier run identified never needs it. Where it is linked into the
// program (the static Windows build), the table holds its functions as they are.
//
// Only this module's sources include this header: it names the library's own types.

#include <proj.h>

#include <memory>
#include <string>

namespace brindle {

struct ProjCalls {
    decltype(&proj_context_create) context_create = nullptr;
    decltype(&proj_context_destroy) context_destroy = nullptr;
    decltype(&proj_log_func) log_func = nullptr;
    decltype(&proj_context_set_enable_network) context_set_enable_network = nullptr;
    decltype(&proj_context_set_search_paths) context_set_search_paths = nullptr;
    decltype(&proj_create) create = nullptr;
    decltype(&proj_destroy) destroy = nullptr;
    decltype(&proj_is_crs) is_crs = nullptr;
    decltype(&proj_get_type) get_type = nullptr;
    decltype(&proj_crs_get_coordinate_system) crs_get_coordinate_system = nullptr;
    decltype(&proj_cs_get_type) cs_get_type = nullptr;
    decltype(&proj_crs_get_sub_crs) crs_get_sub_crs = nullptr;
    decltype(&proj_get_source_crs) get_source_crs = nullptr;
    decltype(&proj_is_equivalent_to_with_ctx) is_equivalent_to_with_ctx = nullptr;
    decltype(&proj_get_id_auth_name) get_id_auth_name = nullptr;
    decltype(&proj_get_id_code) get_id_code = nullptr;
    // Transforming points, for placing a block on the globe.
    decltype(&proj_create_crs_to_crs_from_pj) create_crs_to_crs_from_pj = nullptr;
    decltype(&proj_normalize_for_visualization) normalize_for_visualization = nullptr;
    decltype(&proj_trans_generic) trans_generic = nullptr;
};

// The library once loaded (or linked): its calls, valid while this lives.
class ProjLibrary {
    struct Key {}; // so that Load alone makes one

public:
    // The library, loaded from `name` (the shared library's name as the system's loader looks
    // it up); `name` is not used where the library is linked in. Nothing when it cannot be
    // loaded or lacks a function this module calls: `why` then says what was missing.
    static std::unique_ptr<ProjLibrary> Load(const std::string& name, std::string& why);

    explicit ProjLibrary(Key) {}
    ~ProjLibrary();
    ProjLibrary(const ProjLibrary&) = delete;
    ProjLibrary& operator=(const ProjLibrary&) = delete;

    const ProjCalls& calls() const { return calls_; }

private:
    ProjCalls calls_;
    void* handle_ = nullptr; // the loader's, where the library was loaded at run time
};

} // namespace brindle
