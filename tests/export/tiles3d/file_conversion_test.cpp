// Files converted by the worker processes, as a tileset's walk converts them: the finer files
// each names against a plain load of the same file, its content placed by its root node
// against the scene's own vertices, and what each kind of failure comes to, the pool going on.
#include "content_truth.h"
#include "meshopt_truth.h"
#include "production_files.h"

#include "export/tiles3d/file_conversion.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <osg/ComputeBoundsVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <atomic>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <set>

namespace brindle {
namespace {

namespace fs = std::filesystem;

CheckSettings Settings(const char* program = BRINDLE_TILE_CHECK_PROGRAM, unsigned jobs = 2) {
    CheckSettings settings;
    settings.workerProgram = program;
    settings.jobs = jobs;
    return settings;
}

std::unique_ptr<FileConversions> StartPool(const CheckSettings& settings) {
    Result<std::unique_ptr<FileConversions>> started = FileConversions::Start(settings);
    EXPECT_TRUE(started.ok());
    return std::move(started).value();
}

// Converts the jobs at once, and gives each file's result.
std::map<fs::path, ConvertedFile> ConvertAll(FileConversions& pool,
                                             const std::vector<ConversionJob>& jobs) {
    std::mutex mutex;
    std::map<fs::path, ConvertedFile> results;
    for (const ConversionJob& job : jobs)
        pool.convert(job, [&](const ConversionJob& done, ConvertedFile converted) {
            const std::lock_guard<std::mutex> lock(mutex);
            results.emplace(done.file, std::move(converted));
        });
    pool.wait();
    return results;
}

ConvertedFile ConvertOne(const ConversionJob& job, const CheckSettings& settings = Settings()) {
    const std::unique_ptr<FileConversions> pool = StartPool(settings);
    std::map<fs::path, ConvertedFile> results = ConvertAll(*pool, {job});
    EXPECT_EQ(results.size(), 1u);
    return results.begin()->second;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The paged nodes of a plain load of `file`, as a viewer holds them.
std::vector<const osg::PagedLOD*> PagedNodes(const osg::Node& scene) {
    struct Collect : osg::NodeVisitor {
        Collect() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::PagedLOD& paged) override {
            found.push_back(&paged);
            traverse(paged);
        }
        std::vector<const osg::PagedLOD*> found;
    } collect;
    const_cast<osg::Node&>(scene).accept(collect);
    return collect.found;
}

TEST(FileConversion, AProductionTileNamesItsFinerFilesAsAPlainLoadResolvesThem) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "瓦片块");
    const ConvertedFile converted = ConvertOne({tile.root, dir / "root.glb", false});
    ASSERT_EQ(converted.outcome.reason, TileStatus::Valid);
    ASSERT_FALSE(converted.contentError) << converted.contentError.message();
    EXPECT_EQ(converted.finerLeftOut, 0u);

    // The plain load: each paged node's unloaded names, each as its database path and name,
    // which must be the files written; the pixels node measured by its inline child's box, the
    // distance node by its own centre and radius, the transform above it not applied.
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(tile.root.string());
    ASSERT_TRUE(scene);
    std::vector<FinerFile> expected;
    for (const osg::PagedLOD* paged : PagedNodes(*scene)) {
        osg::ComputeBoundsVisitor box;
        const_cast<osg::PagedLOD*>(paged)->accept(box);
        const bool pixels = paged->getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
        const osg::BoundingBox& children = box.getBoundingBox();
        for (unsigned i = paged->getNumChildren(); i < paged->getNumFileNames(); ++i) {
            FinerFile finer;
            finer.file = paged->getDatabasePath() + paged->getFileName(i);
            finer.centre = pixels
                               ? std::array<double, 3>{children.center().x(), children.center().y(),
                                                       children.center().z()}
                               : std::array<double, 3>{50.0, 50.0, 10.0};
            finer.radius = pixels ? children.radius() : 75.0;
            expected.push_back(finer);
        }
    }
    ASSERT_EQ(expected.size(), tile.finer.size());
    ASSERT_EQ(converted.finer.size(), tile.finer.size());
    for (std::size_t i = 0; i < tile.finer.size(); ++i) {
        SCOPED_TRACE(tile.finer[i].file);
        const FinerFile& got = converted.finer[i];
        EXPECT_TRUE(fs::equivalent(expected[i].file, tile.finer[i].file));
        EXPECT_TRUE(fs::equivalent(got.file, tile.finer[i].file)) << got.file;
        EXPECT_EQ(got.file.filename(), tile.finer[i].file.filename());
        EXPECT_EQ(got.pixels, tile.finer[i].pixels);
        EXPECT_EQ(got.switchAt, tile.finer[i].switchAt);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(got.centre[k], expected[i].centre[k], 1e-3);
        EXPECT_NEAR(got.radius, expected[i].radius, 1e-3);
    }
    // The finer files name none.
    const ConvertedFile leaf = ConvertOne({tile.finer[1].file, dir / "leaf.glb", false});
    EXPECT_EQ(leaf.outcome.reason, TileStatus::Valid);
    EXPECT_TRUE(leaf.finer.empty());
    EXPECT_GT(leaf.glbBytes, 0u);
}

// An index over tile folders, as Brindle writes them: names to load at once, with a backslash
// as Windows viewers store them. They are shown at every distance; a name no search finds is
// told as read plainly, for the walk to find missing.
TEST(FileConversion, AnIndexNamesTheFilesItLoadsAtOnceAsTheReaderFindsThem) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "TILE");
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    proxy->setFileName(0, "TILE\\Tile_+000_+000_L15_0.osgb");
    proxy->setFileName(1, "Missing\\root.osgb");
    const fs::path index = dir / "index.osgb";
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, index.string()));
    const ConvertedFile converted = ConvertOne({index, dir / "index.glb", false});
    ASSERT_EQ(converted.outcome.reason, TileStatus::Valid);
    EXPECT_EQ(converted.contentError, make_error_code(ContentError::NoTriangles));
    EXPECT_FALSE(fs::exists(dir / "index.glb"));
    ASSERT_EQ(converted.finer.size(), 2u);
    EXPECT_TRUE(fs::equivalent(converted.finer[0].file, tile.root)) << converted.finer[0].file;
    EXPECT_FALSE(converted.finer[0].pixels);
    EXPECT_EQ(converted.finer[0].switchAt, std::numeric_limits<float>::max());
    EXPECT_EQ(converted.finer[1].file.lexically_normal(), dir / "Missing" / "root.osgb");
}

// The content read back with the glTF library, placed by its root node and turned from y up,
// is the scene's triangles where a plain load draws them; quantised, within its grid's step.
TEST(FileConversion, TheWrittenContentDrawnWithTheIdentityLandsOnTheScenesVertices) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "TILE");
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(tile.root.string());
    ASSERT_TRUE(scene);
    const std::vector<test::WorldTriangle> truth = test::SceneTriangles(*scene);
    ASSERT_FALSE(truth.empty());
    for (const bool quantize : {false, true}) {
        SCOPED_TRACE(quantize ? "quantised" : "plain");
        const fs::path glb = dir / (quantize ? "q.glb" : "p.glb");
        const ConvertedFile converted = ConvertOne({tile.root, glb, quantize});
        ASSERT_EQ(converted.outcome.reason, TileStatus::Valid);
        ASSERT_TRUE(converted.hasContent());
        const std::string bytes = ReadAll(glb);
        EXPECT_EQ(bytes.size(), converted.glbBytes);
        const test::ReadGlb read = test::ReadBack(bytes);
        ASSERT_TRUE(read.loaded) << read.error;
        EXPECT_EQ(read.images.size(), 2u);
        EXPECT_EQ(read.mimeTypes.front(), "image/jpeg");
        ASSERT_EQ(read.triangles.size(), truth.size());
        EXPECT_EQ(converted.triangles, truth.size());
        double worst = 0;
        osg::BoundingBoxd bounds;
        for (std::size_t t = 0; t < truth.size(); ++t)
            for (int k = 0; k < 3; ++k) {
                worst =
                    std::max(worst, (read.triangles[t].corners[k] - truth[t].corners[k]).length());
                bounds.expandBy(truth[t].corners[k]);
            }
        EXPECT_LT(worst, quantize ? 0.01 : 1e-4);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(converted.boundsMin[k], bounds._min[k], 1e-4);
            EXPECT_NEAR(converted.boundsMax[k], bounds._max[k], 1e-4);
        }
    }
}

// Compressed by the worker, with and without quantisation, the content decodes to the
// triangles the worker's uncompressed content of the same settings draws.
TEST(FileConversion, TheWorkersCompressedContentDecodesToItsUncompressedContent) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "TILE");
    for (const bool quantize : {false, true}) {
        SCOPED_TRACE(quantize ? "quantised" : "plain");
        const ConvertedFile plain = ConvertOne({tile.root, dir / "p.glb", quantize});
        const ConvertedFile packed = ConvertOne({tile.root, dir / "m.glb", quantize, false, true});
        ASSERT_TRUE(plain.hasContent() && packed.hasContent());
        const std::string bytes = ReadAll(dir / "m.glb");
        EXPECT_EQ(bytes.size(), packed.glbBytes);
        EXPECT_LT(packed.glbBytes, plain.glbBytes);
        EXPECT_EQ(packed.triangles, plain.triangles);
        const std::optional<std::string> decoded = test::DecodeMeshoptGlb(bytes);
        ASSERT_TRUE(decoded);
        const test::ReadGlb truth = test::ReadBack(ReadAll(dir / "p.glb"));
        const test::ReadGlb back = test::ReadBack(*decoded);
        ASSERT_TRUE(back.loaded) << back.error;
        EXPECT_EQ(test::TrianglesInAnyOrder(back.triangles),
                  test::TrianglesInAnyOrder(truth.triangles));
        EXPECT_EQ(back.images, truth.images);
    }
}

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value =
            (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    return value;
}

// A b3dm as a 1.0 viewer reads it: its 28-byte header's lengths add up to the file, its
// feature table says no features and ends where the glb starts on 8 bytes, there is no batch
// table, and the glb inside, which ends on 8 bytes too, is the one the same file gives without
// the wrapper: its binary chunk byte for byte, its JSON the same but for the spaces that pad it
// (4 more where the plain glb ends on 4). Every file of a production tile, plain and quantised,
// so that glbs ending on 8 and on 4 both come.
TEST(FileConversion, AB3dmHoldsTheSameFilesGlbBehindAHeaderAViewerReads) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "TILE");
    std::vector<fs::path> files = {tile.root};
    for (const test::ProductionTile::Finer& finer : tile.finer)
        files.push_back(finer.file);
    std::set<std::size_t> plainEnds;
    for (const fs::path& file : files)
        for (const bool quantize : {false, true}) {
            SCOPED_TRACE(file.filename().string() + (quantize ? " quantised" : " plain"));
            const fs::path glb = dir / "plain.glb", b3dm = dir / "wrapped.b3dm";
            const ConvertedFile plain = ConvertOne({file, glb, quantize});
            const ConvertedFile wrapped = ConvertOne({file, b3dm, quantize, true});
            ASSERT_TRUE(plain.hasContent());
            ASSERT_TRUE(wrapped.hasContent());
            const std::string glbBytes = ReadAll(glb);
            const std::string bytes = ReadAll(b3dm);
            ASSERT_GE(bytes.size(), 28u);
            EXPECT_EQ(wrapped.glbBytes, bytes.size());
            EXPECT_EQ(wrapped.triangles, plain.triangles);
            EXPECT_EQ(bytes.substr(0, 4), "b3dm");
            EXPECT_EQ(LittleEndian32(bytes, 4), 1u);           // version
            EXPECT_EQ(LittleEndian32(bytes, 8), bytes.size()); // byteLength
            const std::uint32_t featureJson = LittleEndian32(bytes, 12);
            EXPECT_EQ(LittleEndian32(bytes, 16), 0u); // feature table binary
            EXPECT_EQ(LittleEndian32(bytes, 20), 0u); // batch table JSON
            EXPECT_EQ(LittleEndian32(bytes, 24), 0u); // batch table binary
            const std::size_t glbStart = 28 + std::size_t{featureJson};
            EXPECT_EQ(glbStart % 8, 0u);
            EXPECT_EQ(bytes.size() % 8, 0u);
            ASSERT_LE(glbStart + 20, bytes.size());
            const nlohmann::json features =
                nlohmann::json::parse(bytes.substr(28, featureJson), nullptr, false);
            EXPECT_EQ(features, nlohmann::json({{"BATCH_LENGTH", 0}}));

            // Both glbs as their containers say: a 12-byte header, the JSON chunk, the rest.
            plainEnds.insert(glbBytes.size() % 8);
            const std::string inside = bytes.substr(glbStart);
            ASSERT_GE(glbBytes.size(), 20u);
            EXPECT_EQ(inside.size() - glbBytes.size(), glbBytes.size() % 8);
            EXPECT_EQ(inside.substr(0, 8), glbBytes.substr(0, 8)); // magic, version
            EXPECT_EQ(LittleEndian32(inside, 8), inside.size());
            EXPECT_EQ(inside.substr(16, 4), "JSON");
            const std::size_t plainJson = LittleEndian32(glbBytes, 12);
            const std::size_t insideJson = LittleEndian32(inside, 12);
            ASSERT_LE(20 + insideJson, inside.size());
            std::string json = inside.substr(20, insideJson);
            EXPECT_EQ(json.substr(0, plainJson), glbBytes.substr(20, plainJson));
            EXPECT_EQ(json.find_first_not_of(' ', plainJson), std::string::npos);
            EXPECT_TRUE(inside.substr(20 + insideJson) == glbBytes.substr(20 + plainJson))
                << "the binary chunk differs";
        }
    EXPECT_EQ(plainEnds, (std::set<std::size_t>{0, 4})) << "glbs ending on 8 and on 4 both came";
}

// A tile that fails costs only its own verdict: the pool answers every job, and goes on.
TEST(FileConversion, EachFailureIsItsFilesVerdictAndThePoolGoesOn) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "tile");
    // A cut copy, a copy whose conversion crashes, hangs or eats its memory ceiling (the
    // faults worker does so by the path's name), a folder, a missing file.
    const std::string whole = ReadAll(tile.root);
    fs::create_directories(dir / "cut");
    std::ofstream(dir / "cut" / "root.osgb", std::ios::binary) << whole.substr(0, whole.size() / 2);
    for (const char* fault : {"crash", "sleepy", "hungry"}) {
        fs::create_directories(dir / fault);
        fs::copy_file(tile.root, dir / fault / "root.osgb");
    }
    fs::create_directories(dir / "folder.osgb");
    CheckSettings settings = Settings(BRINDLE_FAULTS_PROGRAM);
    // Long enough for the heap to fill on a busy machine; the hang has a pool of its own.
    settings.limits.deadlineBase = std::chrono::milliseconds(60000);
    settings.limits.memoryBase = std::uint64_t{384} << 20;
    const std::unique_ptr<FileConversions> pool = StartPool(settings);
    std::vector<ConversionJob> jobs;
    for (const fs::path& file :
         {dir / "cut" / "root.osgb", dir / "crash" / "root.osgb", dir / "hungry" / "root.osgb",
          dir / "folder.osgb", dir / "missing.osgb", tile.root})
        jobs.push_back({file, dir / (file.parent_path().filename().string() +
                                     file.filename().string() + ".glb")});
    std::map<fs::path, ConvertedFile> results = ConvertAll(*pool, jobs);
    CheckSettings hurried = settings;
    hurried.limits.deadlineBase = std::chrono::milliseconds(2000);
    const fs::path sleepy = dir / "sleepy" / "root.osgb";
    results.emplace(sleepy, ConvertOne({sleepy, dir / "sleepy.glb"}, hurried));
    jobs.push_back({sleepy, dir / "sleepy.glb"});
    ASSERT_EQ(results.size(), jobs.size());
    const auto reason = [&](const fs::path& file) { return results.at(file).outcome.reason; };
    EXPECT_EQ(reason(dir / "cut" / "root.osgb"), TileStatus::LoadFailed);
    EXPECT_EQ(results.at(dir / "cut" / "root.osgb").outcome.loadFailure, LoadFailure::Truncated);
    EXPECT_EQ(reason(dir / "crash" / "root.osgb"), TileStatus::ReaderCrashed);
    EXPECT_EQ(reason(dir / "sleepy" / "root.osgb"), TileStatus::TimedOut);
    EXPECT_EQ(reason(dir / "hungry" / "root.osgb"), TileStatus::OutOfMemory);
    EXPECT_EQ(reason(dir / "folder.osgb"), TileStatus::NotRegularFile);
    EXPECT_EQ(reason(dir / "missing.osgb"), TileStatus::NoRootFile);
    EXPECT_EQ(reason(tile.root), TileStatus::Valid);
    for (const auto& [file, converted] : results) {
        EXPECT_EQ(converted.hasContent(), file == tile.root) << file;
        EXPECT_EQ(converted.finer.empty(), file != tile.root) << file;
    }
    EXPECT_FALSE(fs::exists(dir / "crashroot.osgb.glb")) << "nothing is written for a failure";

    // After the crash, the hang and the exhausted heap, the workers replaced convert again,
    // and a job given by a finished one's `done` is waited for too.
    std::atomic<int> converted{0};
    for (int round = 0; round < 3; ++round)
        pool->convert({tile.root, dir / ("again" + std::to_string(round) + ".glb")},
                      [&](const ConversionJob&, ConvertedFile result) {
                          EXPECT_EQ(result.outcome.reason, TileStatus::Valid);
                          pool->convert({tile.finer[0].file, dir / "finer.glb"},
                                        [&](const ConversionJob&, ConvertedFile finer) {
                                            EXPECT_TRUE(finer.hasContent());
                                            ++converted;
                                        });
                          ++converted;
                      });
    pool->wait();
    EXPECT_EQ(converted.load(), 6);
}

TEST(FileConversion, AGlbIsPutInPlaceWholeAndALinkThereIsReplacedNotFollowed) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "tile");
    const fs::path elsewhere = dir / "elsewhere.txt";
    std::ofstream(elsewhere) << "not to be written";
    const fs::path glb = dir / "out.glb";
    fs::create_symlink(elsewhere, glb);
    const ConvertedFile converted = ConvertOne({tile.root, glb, false});
    ASSERT_TRUE(converted.hasContent());
    EXPECT_EQ(ReadAll(elsewhere), "not to be written");
    EXPECT_FALSE(fs::is_symlink(glb));
    EXPECT_EQ(ReadAll(glb).substr(0, 4), "glTF");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
        EXPECT_TRUE(entry.path().filename() == "tile" || entry.path() == elsewhere ||
                    entry.path() == glb)
            << "left behind: " << entry.path();
}

TEST(FileConversion, ACancelledRunAnswersItsJobsWithoutConvertingThem) {
    test::TempDir dir;
    const test::ProductionTile tile = test::WriteProductionTile(dir / "tile");
    std::atomic<bool> cancel{true};
    CheckSettings settings = Settings();
    settings.cancel = &cancel;
    const ConvertedFile converted = ConvertOne({tile.root, dir / "out.glb", false}, settings);
    EXPECT_TRUE(converted.cancelled);
    EXPECT_FALSE(converted.hasContent());
    EXPECT_FALSE(fs::exists(dir / "out.glb"));
}

} // namespace
} // namespace brindle
