// brindle-tileset: a developers' tool that builds a block's 3D Tiles tileset from its index
// (root.osgb, as brindle-export writes it) with the exporter's walk and its conversion
// workers (brindle-tile-check beside this program), the block placed by an SRS and origin
// given on the command line: to view a tileset before the export run writes them itself.
#include "export/isolation/check_settings.h"
#include "export/origin/spatial_reference.h"
#include "export/tiles3d/block_frame.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/tileset_build.h"

#include <CLI/CLI.hpp>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <iostream>

namespace {

// The files the paged nodes of the index name past the children they hold: the overview's
// tops. The index is this program's own file, so it is read here; the workers reply no finer
// file for it (yet), though they do for every other file.
class IndexNames : public osg::NodeVisitor {
public:
    explicit IndexNames(std::filesystem::path folder)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(std::move(folder)) {}

    void apply(osg::PagedLOD& paged) override {
        const bool userCentre = paged.getCenterMode() != osg::LOD::USE_BOUNDING_SPHERE_CENTER;
        const osg::Vec3d centre =
            userCentre ? osg::Vec3d(paged.getCenter()) : osg::Vec3d(paged.getBound().center());
        const double radius =
            userCentre && paged.getRadius() >= 0.0f ? paged.getRadius() : paged.getBound().radius();
        const unsigned ranges = std::min(paged.getNumFileNames(), paged.getNumRanges());
        for (unsigned i = paged.getNumChildren(); i < ranges; ++i) {
            if (paged.getFileName(i).empty())
                continue;
            brindle::FinerFile finer;
            const std::string& base = paged.getDatabasePath();
            finer.file = base.empty() ? folder_ / paged.getFileName(i)
                                      : std::filesystem::path(base + paged.getFileName(i));
            finer.pixels = paged.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
            finer.switchAt = finer.pixels ? paged.getMinRange(i) : paged.getMaxRange(i);
            finer.centre = {centre.x(), centre.y(), centre.z()};
            finer.radius = radius;
            found.push_back(std::move(finer));
        }
        traverse(paged);
    }

    std::vector<brindle::FinerFile> found;

private:
    std::filesystem::path folder_;
};

brindle::ConvertedFile ReadIndex(const std::filesystem::path& file) {
    brindle::ConvertedFile converted;
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(file.string());
    if (!scene) {
        converted.outcome = brindle::TileOutcome(brindle::TileStatus::LoadFailed);
        return converted;
    }
    converted.outcome = brindle::TileOutcome(brindle::TileStatus::Valid);
    IndexNames names(file.parent_path());
    scene->accept(names);
    converted.finer = std::move(names.found);
    return converted;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"For developers: builds a block's 3D Tiles tileset from its index (root.osgb) "
                 "with the exporter's walk and conversion workers."};
    std::string block, output, srs;
    std::vector<double> origin{0, 0, 0}, centre{0, 0, 0};
    unsigned jobs = 2;
    bool verbose = false;
    app.add_option("BLOCK", block, "The listed folder, holding the index root.osgb")->required();
    app.add_option("OUT", output, "The folder the tileset goes into (made; must be empty)")
        ->required();
    app.add_option("--srs", srs,
                   "The block's SRS (e.g. EPSG:32650, or ENU:lat,lon); none "
                   "places it in a local frame");
    app.add_option("--origin", origin, "The block's origin in its SRS")->expected(3);
    app.add_option("--centre", centre, "The frame's centre, as an offset from the origin")
        ->expected(3);
    app.add_option("--jobs", jobs, "Worker processes")->capture_default_str();
    app.add_flag("--verbose", verbose, "A line a converted file: its outcome and finer files");
    CLI11_PARSE(app, argc, argv);

    std::error_code error;
    std::filesystem::create_directories(output, error);
    if (error || !std::filesystem::is_empty(output, error)) {
        std::cerr << output << ": not an empty folder\n";
        return 1;
    }
    brindle::SpatialReferences references;
    std::unique_ptr<brindle::BlockFrame> frame;
    if (!srs.empty()) {
        frame = brindle::BlockFrame::Make(references, srs, {origin[0], origin[1], origin[2]},
                                          {centre[0], centre[1], centre[2]});
        if (!frame) {
            std::cerr << srs << ": cannot be placed on the globe\n";
            return 1;
        }
    }
    brindle::CheckSettings settings;
    settings.jobs = jobs;
    brindle::Result<std::unique_ptr<brindle::FileConversions>> workers =
        brindle::FileConversions::Start(settings);
    if (!workers) {
        std::cerr << "the conversion workers: " << workers.error().message() << "\n";
        return 1;
    }
    brindle::FileConversions& conversions = **workers;
    brindle::TilesetBuildOptions options;
    options.listedFolder = block;
    const std::filesystem::path index = options.listedFolder / "root.osgb";
    options.frame = frame.get();
    options.output = output;
    const brindle::Result<brindle::TilesetBuilt> built = brindle::BuildTileset(
        options, [&](brindle::ConversionJob job, brindle::FileConversions::Done done) {
            std::error_code same;
            if (std::filesystem::equivalent(job.file, index, same)) {
                brindle::ConvertedFile index = ReadIndex(job.file);
                done(job, std::move(index));
                return;
            }
            if (!verbose) {
                conversions.convert(std::move(job), std::move(done));
                return;
            }
            conversions.convert(std::move(job), [done](const brindle::ConversionJob& converted,
                                                       brindle::ConvertedFile file) {
                std::cout << converted.file.string() + ": reason " +
                                 std::to_string(static_cast<int>(file.outcome.reason)) +
                                 ", content " + file.contentError.message() + ", " +
                                 std::to_string(file.finer.size()) + " finer files\n";
                done(converted, std::move(file));
            });
        });
    if (!built) {
        std::cerr << output << ": " << built.error().message() << "\n";
        return 1;
    }
    std::cout << output << ": " << built->tiles << " tiles with content, " << built->tileTilesets
              << " tile tilesets, " << built->leftOut.size() << " files left out, "
              << built->contentBytes << " content bytes" << (frame ? "" : " (local frame)") << "\n";
    for (const brindle::LeftOutFile& file : built->leftOut)
        std::cout << "left out: " << file.file.string() << " ("
                  << "reason " << static_cast<int>(file.outcome.reason) << ")\n";
    return built->written ? 0 : 1;
}
