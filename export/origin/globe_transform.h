#pragma once

#include <cstddef>
#include <memory>

struct pj_ctx;   // the projection library's context
struct PJconsts; // and its objects, kept out of every header but this module's sources

namespace brindle {

struct ProjCalls;

// Points of one CRS taken onto the globe by the projection library, point by point, so that
// the CRS's grid convergence and scale factor, and any datum shift the library knows to
// WGS 84, are its own. Heights go through as they are given: ellipsoidal, unless the CRS is a
// compound one whose vertical datum the library can apply. Made by
// SpatialReferences::globeTransform; valid while that lives, and used from its thread.
class GlobeTransform {
public:
    // Nothing when the library finds no way from `crs` to WGS 84.
    static std::unique_ptr<GlobeTransform> Make(const ProjCalls& calls, pj_ctx* context,
                                                const PJconsts* crs);
    ~GlobeTransform();
    GlobeTransform(const GlobeTransform&) = delete;
    GlobeTransform& operator=(const GlobeTransform&) = delete;

    // In place, `count` points of three doubles each, given east, north, up whatever order
    // the CRS's own axes have: to earth-centred, earth-fixed X, Y, Z (WGS 84, metres). False
    // when the library could not transform every one of them.
    bool toEarthCentred(double* points, std::size_t count) const;
    // The same, to longitude and latitude in degrees and ellipsoidal height on WGS 84.
    bool toGeographic(double* points, std::size_t count) const;

    struct Parts; // the library's objects

private:
    explicit GlobeTransform(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

} // namespace brindle
