#include "export/worker/content_conversion.h"

#include "export/fs/atomic_file.h"
#include "export/fs/path_text.h"
#include "export/fs/scene_file_search.h"
#include "export/tiles3d/b3dm_content.h"
#include "export/tiles3d/kept_image_bytes.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>

#ifdef __linux__
#include <fcntl.h>
#endif

#include <algorithm>
#include <limits>
#include <new>
#include <optional>
#include <utility>

namespace brindle {
namespace {

Result<TileContent> ContentWithOptions(const osg::Node& scene, const CheckRequest& request) {
    ContentOptions options;
    options.quantize = request.quantize;
    options.meshopt = request.meshopt;
    return MakeTileContent(scene, options);
}

// The files a scene's paged and proxy nodes name past the children they hold, as a viewer's
// pager and reader come to them.
class FinerNames : public osg::NodeVisitor {
public:
    FinerNames(const std::string& folder, std::size_t most)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folders_{folder}, folder_(folder), most_(most) {}

    void apply(osg::PagedLOD& paged) override {
        const bool pixels = paged.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
        // As the pager measures the switch: a distance from the node's centre (the user-defined
        // one where its mode says so, else its bound's), pixels of its bound (the user-defined
        // centre and radius where it has both, else its children's).
        const osg::BoundingSphere& bound = paged.getBound();
        const osg::Vec3d centre =
            pixels ? osg::Vec3d(bound.center()) : osg::Vec3d(paged.getCenter());
        const unsigned ranges = std::min(paged.getNumFileNames(), paged.getNumRanges());
        for (unsigned i = paged.getNumChildren(); i < ranges; ++i)
            add(paged.getDatabasePath(), paged.getFileName(i), false, pixels,
                pixels ? paged.getMinRange(i) : paged.getMaxRange(i), centre, bound.radius());
        traverse(paged);
    }

    // A file named to load at once is shown at every distance.
    void apply(osg::ProxyNode& proxy) override {
        const osg::BoundingSphere& bound = proxy.getBound();
        for (unsigned i = proxy.getNumChildren(); i < proxy.getNumFileNames(); ++i)
            add({}, proxy.getFileName(i), true, false, std::numeric_limits<float>::max(),
                proxy.getCenter(), bound.radius());
        traverse(proxy);
    }

    std::vector<FinerName> names;
    std::uint32_t named = 0;

private:
    // A child the node holds is drawn as it is; only the names past them are loaded. The pager
    // hands the reader the node's database path and the name; a name loaded at once is
    // searched for from the file's folder, its own folder in front.
    void add(const std::string& base, const std::string& name, bool atOnce, bool pixels,
             double switchAt, const osg::Vec3d& centre, double radius) {
        if (name.empty())
            return;
        ++named;
        if (names.size() == most_)
            return;
        FinerName finer;
        // The name the reader is handed, found as its search finds it; one it finds nowhere
        // is told as it reads plainly, for the run to find missing.
        const std::string asked = atOnce ? name : (base.empty() ? folder_ + '/' : base) + name;
        const std::optional<std::string> found =
            FindSceneFile(asked, atOnce ? SearchFoldersForName(folders_, name) : folders_);
        finer.path =
            found ? *found
                  : PathText(ResolveSceneFileName(PathOfText(base.empty() ? folder_ : base), name));
        finer.pixels = pixels;
        finer.switchAt = switchAt;
        for (int k = 0; k < 3; ++k)
            finer.centre[k] = centre[k];
        // A node without children or a radius of its own has no bound: a point.
        finer.radius = radius >= 0 ? radius : 0;
        names.push_back(std::move(finer));
    }

    const SearchFolders folders_;
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
    CheckReply reply;
    {
        // JPEGs are embedded as they are: only their size is read, never their pixels.
        const UndecodedJpegs undecoded;
        reply = validator_.check(request, &scene);
    }
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
    // Wrapped last, around the glb as it was made: a b3dm's glb is the file's glb.
    if (request.b3dm)
        made->glb = B3dmAround(made->glb);
    // Written where the run said, whole or not at all: a link there is replaced, not followed.
    // Not flushed: the run builds its tileset in a staging folder of its own and flushes it
    // whole before it puts it in place, and a flush a file held each worker up on the disk.
    // Where the system can, the file's writing is begun, not waited for, so that the disk
    // works while the worker converts and the folder's flush finds little left.
    AtomicFileCalls calls = SystemFileCalls();
#if defined(__linux__)
    calls.fsync = [](int fd) {
        (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        return 0;
    };
#elif !defined(_WIN32)
    calls.fsync = [](int) { return 0; };
#endif
    const Result<FileReplaced> written =
        ReplaceFileAtomically(PathOfRequestText(request.glbPath), made->glb, calls);
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
