#include "export/worker/content_conversion.h"

#include "export/fs/atomic_file.h"
#include "export/tiles3d/kept_image_bytes.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/FileNameUtils>

#include <limits>
#include <new>
#include <utility>

namespace brindle {
namespace {

Result<TileContent> ContentWithOptions(const osg::Node& scene, const CheckRequest& request) {
    ContentOptions options;
    options.quantize = request.quantize;
    return MakeTileContent(scene, options);
}

// The paged nodes' named ranges, as a viewer's pager reads them.
class FinerNames : public osg::NodeVisitor {
public:
    FinerNames(const std::string& folder, std::size_t most)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(folder), most_(most) {}

    void apply(osg::PagedLOD& paged) override {
        const bool pixels = paged.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
        const bool userCentre = paged.getCenterMode() != osg::LOD::USE_BOUNDING_SPHERE_CENTER;
        const osg::BoundingSphere& bound = paged.getBound();
        const osg::Vec3d centre =
            userCentre ? osg::Vec3d(paged.getCenter()) : osg::Vec3d(bound.center());
        const double radius =
            userCentre && paged.getRadius() >= 0.0f ? paged.getRadius() : bound.radius();
        // A child the node holds is drawn as it is; the pager loads only the names past them.
        const unsigned ranges = std::min(paged.getNumFileNames(), paged.getNumRanges());
        for (unsigned i = paged.getNumChildren(); i < ranges; ++i) {
            const std::string& name = paged.getFileName(i);
            if (name.empty())
                continue;
            ++named;
            if (names.size() == most_)
                continue;
            FinerName finer;
            const std::string& base = paged.getDatabasePath();
            finer.path = base.empty() ? folder_ + '/' + name : base + name;
            finer.pixels = pixels;
            finer.switchAt = pixels ? paged.getMinRange(i) : paged.getMaxRange(i);
            for (int k = 0; k < 3; ++k)
                finer.centre[k] = centre[k];
            finer.radius = radius;
            names.push_back(std::move(finer));
        }
        traverse(paged);
    }

    // A proxy's files load with the file that holds it, whatever the distance: an overview
    // index names its tops so. The reader here reads no other file, so they are finer files
    // shown from any distance, named as a viewer resolves them (backslashes too).
    void apply(osg::ProxyNode& proxy) override {
        for (unsigned i = proxy.getNumChildren(); i < proxy.getNumFileNames(); ++i) {
            const std::string name = osgDB::convertFileNameToNativeStyle(proxy.getFileName(i));
            if (name.empty())
                continue;
            ++named;
            if (names.size() == most_)
                continue;
            FinerName finer;
            const std::string& base = proxy.getDatabasePath();
            finer.path = base.empty() ? folder_ + '/' + name : base + name;
            finer.switchAt = std::numeric_limits<float>::max();
            names.push_back(std::move(finer));
        }
        traverse(proxy);
    }

    std::vector<FinerName> names;
    std::uint32_t named = 0;

private:
    const std::string& folder_;
    std::size_t most_;
};

} // namespace

std::vector<FinerName> FinerNamesOf(osg::Node& scene, const std::string& folder, std::size_t most,
                                    std::uint32_t& named) {
    FinerNames names(folder, most);
    scene.accept(names);
    named = names.named;
    return std::move(names.names);
}

FileConverter::FileConverter(const TileValidator& validator, MakeContent make)
    : validator_(validator), make_(make ? make : ContentWithOptions) {}

CheckReply FileConverter::convert(const CheckRequest& asked) {
    CheckRequest request = asked;
    request.mode = ParseMode::Fast;
    // The images a file embeds are decoded for its content, and the registry's own writers
    // encode those it holds as pixels; only a converting worker keeps their bytes, so tile
    // checks pay nothing for them.
    const TileValidator::ImagesDecoded decoded = validator_.decodeImages();
    if (!keepingImageBytes_)
        keepingImageBytes_ = KeepEmbeddedImageBytes();
    osg::ref_ptr<osg::Node> scene;
    CheckReply reply = validator_.check(request, &scene);
    if (reply.verdict != CheckVerdict::Loads || !scene)
        return reply;
    ContentReply& content = reply.content.emplace();
    const std::filesystem::path file = RequestPath(request);
    content.finer = FinerNamesOf(*scene, RequestPathText(file.parent_path()), kMaxFinerNames,
                                 content.finerNamed);
    Result<TileContent> made = make_(*scene, request);
    scene = nullptr;
    if (!made) {
        const std::error_code error = made.error();
        content.error = error.category() == ContentCategory() && error.value() > 0 &&
                                error.value() <= kMaxContentError
                            ? static_cast<std::uint8_t>(error.value())
                            : static_cast<std::uint8_t>(ContentError::WriteFailed);
        return reply;
    }
    // Written where the run said, whole or not at all: a link there is replaced, not followed.
    const Result<FileReplaced> written =
        ReplaceFileAtomically(PathOfRequestText(request.glbPath), made->glb);
    if (!written || written->notFlushed) {
        content.error = static_cast<std::uint8_t>(ContentError::WriteFailed);
        reply.cause = written ? written->notFlushed : written.error();
        return reply;
    }
    for (int k = 0; k < 3; ++k) {
        content.boundsMin[k] = made->bounds._min[k];
        content.boundsMax[k] = made->bounds._max[k];
    }
    content.glbBytes = made->glb.size();
    content.triangles = made->triangles;
    return reply;
}

} // namespace brindle
