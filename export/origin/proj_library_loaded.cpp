#include "export/origin/proj_library.h"

#include <dlfcn.h>

namespace brindle {
namespace {

// Looks `symbol` up as the pointer type `function` has; false when the library lacks it.
template <typename Function> bool LookUp(void* handle, const char* symbol, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, symbol));
    return function != nullptr;
}

// The first function of the table the library lacks, or nullptr when it has them all.
const char* MissingCall(void* handle, ProjCalls& calls) {
#define BRINDLE_PROJ_LOOK_UP(member, symbol)                                                       \
    if (!LookUp(handle, symbol, calls.member))                                                     \
        return symbol;
    BRINDLE_PROJ_LOOK_UP(context_create, "proj_context_create")
    BRINDLE_PROJ_LOOK_UP(context_destroy, "proj_context_destroy")
    BRINDLE_PROJ_LOOK_UP(log_func, "proj_log_func")
    BRINDLE_PROJ_LOOK_UP(context_set_enable_network, "proj_context_set_enable_network")
    BRINDLE_PROJ_LOOK_UP(context_set_search_paths, "proj_context_set_search_paths")
    BRINDLE_PROJ_LOOK_UP(create, "proj_create")
    BRINDLE_PROJ_LOOK_UP(destroy, "proj_destroy")
    BRINDLE_PROJ_LOOK_UP(is_crs, "proj_is_crs")
    BRINDLE_PROJ_LOOK_UP(get_type, "proj_get_type")
    BRINDLE_PROJ_LOOK_UP(crs_get_coordinate_system, "proj_crs_get_coordinate_system")
    BRINDLE_PROJ_LOOK_UP(cs_get_type, "proj_cs_get_type")
    BRINDLE_PROJ_LOOK_UP(crs_get_sub_crs, "proj_crs_get_sub_crs")
    BRINDLE_PROJ_LOOK_UP(get_source_crs, "proj_get_source_crs")
    BRINDLE_PROJ_LOOK_UP(is_equivalent_to_with_ctx, "proj_is_equivalent_to_with_ctx")
    BRINDLE_PROJ_LOOK_UP(get_id_auth_name, "proj_get_id_auth_name")
    BRINDLE_PROJ_LOOK_UP(get_id_code, "proj_get_id_code")
    BRINDLE_PROJ_LOOK_UP(create_crs_to_crs_from_pj, "proj_create_crs_to_crs_from_pj")
    BRINDLE_PROJ_LOOK_UP(normalize_for_visualization, "proj_normalize_for_visualization")
    BRINDLE_PROJ_LOOK_UP(trans_generic, "proj_trans_generic")
#undef BRINDLE_PROJ_LOOK_UP
    return nullptr;
}

} // namespace

std::unique_ptr<ProjLibrary> ProjLibrary::Load(const std::string& name, std::string& why) {
    // Its symbols stay its own, so that a second copy elsewhere in the process cannot mix in.
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        why = error ? error : name;
        return nullptr;
    }
    auto library = std::make_unique<ProjLibrary>(Key{});
    library->handle_ = handle;
    if (const char* missing = MissingCall(handle, library->calls_)) {
        why = name + ": no " + missing;
        return nullptr;
    }
    return library;
}

ProjLibrary::~ProjLibrary() {
    if (handle_)
        dlclose(handle_);
}

} // namespace brindle
