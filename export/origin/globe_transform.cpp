#include "export/origin/globe_transform.h"

#include <cmath>
#include <utility>

#ifdef BRINDLE_HAVE_PROJ
#include "export/origin/proj_library.h"
#else
struct PJconsts {};
#endif

namespace brindle {

#ifdef BRINDLE_HAVE_PROJ
namespace {

struct ObjectDeleter {
    const ProjCalls* proj = nullptr;
    void operator()(PJ* object) const { proj->destroy(object); }
};
using Object = std::unique_ptr<PJ, ObjectDeleter>;

// The transformation from `crs` to `target`, taking and giving east before north and
// longitude before latitude whatever order the two CRSs' axes have.
Object Transformation(const ProjCalls& proj, PJ_CONTEXT* context, const PJ* crs,
                      const char* target) {
    const Object to(proj.create(context, target), ObjectDeleter{&proj});
    if (!to)
        return Object(nullptr, ObjectDeleter{&proj});
    const Object raw(proj.create_crs_to_crs_from_pj(context, crs, to.get(), nullptr, nullptr),
                     ObjectDeleter{&proj});
    if (!raw)
        return Object(nullptr, ObjectDeleter{&proj});
    return Object(proj.normalize_for_visualization(context, raw.get()), ObjectDeleter{&proj});
}

bool Transform(const ProjCalls& proj, PJ* transformation, double* points, std::size_t count) {
    if (count == 0)
        return true;
    const std::size_t stride = 3 * sizeof(double);
    const std::size_t done =
        proj.trans_generic(transformation, PJ_FWD, points, stride, count, points + 1, stride, count,
                           points + 2, stride, count, nullptr, 0, 0);
    if (done != count)
        return false;
    // A point the library could not take is left at HUGE_VAL.
    for (std::size_t i = 0; i < 3 * count; ++i)
        if (!std::isfinite(points[i]))
            return false;
    return true;
}

} // namespace

struct GlobeTransform::Parts {
    const ProjCalls* proj = nullptr;
    Object toEarthCentred;
    Object toGeographic;
};
#else
// A build without the library places nothing.
struct GlobeTransform::Parts {};
#endif

GlobeTransform::GlobeTransform(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

GlobeTransform::~GlobeTransform() = default;

std::unique_ptr<GlobeTransform> GlobeTransform::Make(const ProjCalls& proj, pj_ctx* context,
                                                     const PJconsts* crs) {
#ifndef BRINDLE_HAVE_PROJ
    (void)proj, (void)context, (void)crs;
    return nullptr;
#else
    if (!context || !crs)
        return nullptr;
    auto parts =
        std::make_unique<Parts>(Parts{&proj, Transformation(proj, context, crs, "EPSG:4978"),
                                      Transformation(proj, context, crs, "EPSG:4979")});
    if (!parts->toEarthCentred || !parts->toGeographic)
        return nullptr;
    return std::unique_ptr<GlobeTransform>(new GlobeTransform(std::move(parts)));
#endif
}

#ifdef BRINDLE_HAVE_PROJ
bool GlobeTransform::toEarthCentred(double* points, std::size_t count) const {
    return Transform(*parts_->proj, parts_->toEarthCentred.get(), points, count);
}

bool GlobeTransform::toGeographic(double* points, std::size_t count) const {
    return Transform(*parts_->proj, parts_->toGeographic.get(), points, count);
}
#else
bool GlobeTransform::toEarthCentred(double*, std::size_t) const {
    return false;
}
bool GlobeTransform::toGeographic(double*, std::size_t) const {
    return false;
}
#endif

} // namespace brindle
