#include "export/origin/proj_library.h"

namespace brindle {

std::unique_ptr<ProjLibrary> ProjLibrary::Load(const std::string&, std::string&) {
    auto library = std::make_unique<ProjLibrary>(Key{});
    ProjCalls& calls = library->calls_;
    calls.context_create = &proj_context_create;
    calls.context_destroy = &proj_context_destroy;
    calls.log_func = &proj_log_func;
    calls.context_set_enable_network = &proj_context_set_enable_network;
    calls.context_set_search_paths = &proj_context_set_search_paths;
    calls.create = &proj_create;
    calls.destroy = &proj_destroy;
    calls.is_crs = &proj_is_crs;
    calls.get_type = &proj_get_type;
    calls.crs_get_coordinate_system = &proj_crs_get_coordinate_system;
    calls.cs_get_type = &proj_cs_get_type;
    calls.crs_get_sub_crs = &proj_crs_get_sub_crs;
    calls.get_source_crs = &proj_get_source_crs;
    calls.is_equivalent_to_with_ctx = &proj_is_equivalent_to_with_ctx;
    calls.get_id_auth_name = &proj_get_id_auth_name;
    calls.get_id_code = &proj_get_id_code;
    calls.create_crs_to_crs_from_pj = &proj_create_crs_to_crs_from_pj;
    calls.normalize_for_visualization = &proj_normalize_for_visualization;
    calls.trans_generic = &proj_trans_generic;
    return library;
}

ProjLibrary::~ProjLibrary() = default;

} // namespace brindle
