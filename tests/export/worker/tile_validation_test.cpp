#include "export/export_run.h"
#include "export/isolation/tile_check_queue.h"
#include "export/worker/tile_validation.h"
#include "tests/export/overview/summary_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osg/Texture2D>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <osg/Notify>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

osg::ref_ptr<osg::Image> MakeImage(int size) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int i = 0; i < size * size * 3; ++i)
        image->data()[i] = static_cast<unsigned char>(i * 37);
    return image;
}

void WriteScene(const osg::Node& node, const fs::path& file, const std::string& options) {
    fs::create_directories(file.parent_path());
    const osg::ref_ptr<osgDB::Options> writeOptions = new osgDB::Options(options);
    ASSERT_TRUE(osgDB::writeNodeFile(node, file.string(), writeOptions.get())) << file;
}

void WriteTexturedTile(const fs::path& folder, const fs::path& imageFile, const std::string& hint) {
    osg::ref_ptr<osg::Image> image = MakeImage(16);
    image->setFileName(imageFile.string());
    WriteScene(*test::TexturedQuad(image.get()), folder / "root.osgb", "WriteImageHint=" + hint);
}

void WriteIndexFile(const fs::path& file, const std::vector<std::string>& children) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (unsigned i = 0; i < children.size(); ++i)
        proxy->setFileName(i, children[i]);
    WriteScene(*proxy, file, "");
}

void WriteIndexOver(const fs::path& folder, const std::vector<std::string>& children) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (unsigned i = 0; i < children.size(); ++i)
        proxy->setFileName(i, children[i]);
    WriteScene(*proxy, folder / "root.osgb", "");
}

// Tiles of every kind a block holds, sound and broken.
void WriteCorpus(const fs::path& block) {
    test::WriteTile(block / "plain");
    const fs::path jpeg = block / "texture.jpg";
    ASSERT_TRUE(osgDB::writeImageFile(*MakeImage(64), jpeg.string()));
    WriteTexturedTile(block / "embedded_jpeg", jpeg, "IncludeFile");
    WriteTexturedTile(block / "raw_image", jpeg, "IncludeData");
    WriteTexturedTile(block / "external_present", jpeg, "UseExternal");
    WriteTexturedTile(block / "external_missing", block / "gone.jpg", "UseExternal");
    const fs::path garbage = block / "garbage.jpg";
    test::WriteText(garbage, std::string("\xFF\xD8\xFF") + std::string(200, 'x'));
    WriteTexturedTile(block / "corrupt_embedded_jpeg", garbage, "IncludeFile");
    test::WriteTile(block / "nested" / "a");
    // A missing child named root.osgb would be found again as the index itself by the
    // reader's file search, so a full load of such an index never ends; see below.
    WriteIndexOver(block / "nested", {"a/root.osgb", "missing/tile.osgb"});
    WriteIndexOver(block / "index_over_nothing", {"x/tile.osgb"});
    test::WriteTile(block / "compressed");
    WriteScene(*osgDB::readRefNodeFile((block / "plain" / "root.osgb").string()),
               block / "compressed" / "root.osgb", "Compressor=zlib");
    const fs::path ascii = block / "ascii_content" / "tile.osgt";
    WriteScene(*osgDB::readRefNodeFile((block / "plain" / "root.osgb").string()), ascii, "");
    fs::rename(ascii, ascii.parent_path() / "root.osgb");

    const std::string jpegTile = test::ReadBytes(block / "embedded_jpeg" / "root.osgb");
    ASSERT_NE(jpegTile.find("\xFF\xD8\xFF"), std::string::npos) << "the JPEG must be embedded";
    test::WriteText(block / "empty_file" / "root.osgb", "");
    test::WriteText(block / "text_file" / "root.osgb", "not a scene\n");
    fs::create_directories(block / "no_root_file");
    fs::create_directories(block / "root_is_folder" / "root.osgb");
}

fs::path WriteRealisticTile(const fs::path& folder) {
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 24;
    params.embedJpeg = true;
    fs::create_directories(folder);
    WriteSampleTile(folder / "root.osgb", params);
    return folder / "root.osgb";
}

std::string Gzip(const std::string& bytes) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string LittleEndian32(std::uint32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

// Offsets in an uncompressed binary tile's header: magic (8), type, version, attributes, then
// the compressor name's length and the name "0".
constexpr std::size_t kAttributesOffset = 16;
constexpr std::size_t kCompressorOffset = 20;

// Files that once took a whole run down: compressed tiles whose inner scene is damaged, text
// scenes cut short or claiming billions of children, headers whose fields send the reader
// off for ever, and counts that make it ask for gigabytes.
void WriteHostileTiles(const fs::path& block, const std::string& sound) {
    ASSERT_EQ(sound.substr(kCompressorOffset, 5), LittleEndian32(1) + "0");
    const std::string header = sound.substr(0, kCompressorOffset) + LittleEndian32(4) + "zlib";
    const std::string body = sound.substr(kCompressorOffset + 5);
    const auto write = [&](const std::string& name, const std::string& bytes) {
        test::WriteText(block / name / "root.osgb", bytes);
    };
    write("zlib_sound", header + Gzip(body));
    write("zlib_inner_cut", header + Gzip(body.substr(0, body.size() / 2)));
    std::string damagedBody = body;
    damagedBody.replace(body.find("osg::Geometry") + 13, 8, std::string(8, '\x7f'));
    write("zlib_inner_overwritten", header + Gzip(damagedBody));
    std::string attributes0c = header + Gzip(body);
    attributes0c.replace(kAttributesOffset, 4, LittleEndian32(0x0c));
    write("zlib_attributes_0c", attributes0c);

    std::string allAttributes = sound;
    allAttributes.replace(kAttributesOffset, 4, LittleEndian32(0xffffffff));
    write("attributes_all_set", allAttributes);
    std::string hugeName = sound;
    hugeName.replace(kCompressorOffset, 4, LittleEndian32(0x7fffffff));
    write("huge_compressor_name", hugeName);
    // The mesh's vertex count, where its array begins.
    const std::size_t array = sound.find("osg::Vec3Array");
    ASSERT_NE(array, std::string::npos);
    const std::size_t count = sound.find(LittleEndian32(25 * 25), array);
    ASSERT_NE(count, std::string::npos);
    std::string hugeArray = sound;
    hugeArray.replace(count, 4, LittleEndian32(0x3fffffff));
    write("huge_array_count", hugeArray);

    const fs::path text = block / "text_scene" / "scene.osgt";
    WriteScene(*osgDB::readRefNodeFile((block / "sound" / "root.osgb").string()), text, "");
    const std::string scene = test::ReadBytes(text);
    fs::remove_all(text.parent_path());
    write("text_cut", scene.substr(0, scene.size() / 2));
    const std::size_t drawables = scene.find("Drawables 1 ");
    ASSERT_NE(drawables, std::string::npos);
    std::string manyChildren = scene;
    manyChildren.replace(drawables, 12, "Drawables 2147483647 ");
    write("text_many_children", manyChildren);
}

// Tiles damaged the way copies and downloads damage them: cut short at many points, and with
// a few bytes overwritten in the structure that says how to read the rest (counts, lengths,
// class names, the size of an object's block). The reader crashes or never returns on some.
void WriteDamagedTiles(const fs::path& block) {
    const std::string sound = test::ReadBytes(WriteRealisticTile(block / "sound"));
    constexpr int kCuts = 16;
    for (int i = 1; i <= kCuts; ++i)
        test::WriteText(block / ("cut_" + std::to_string(i)) / "root.osgb",
                        sound.substr(0, sound.size() * i / (kCuts + 1)));
    const std::size_t geometry = sound.find("osg::Geometry");
    ASSERT_NE(geometry, std::string::npos);
    auto overwrite = [&](const std::string& name, std::size_t offset, const std::string& bytes) {
        std::string damaged = sound;
        damaged.replace(offset, bytes.size(), bytes);
        test::WriteText(block / name / "root.osgb", damaged);
    };
    // The reader shrugs off a failed seek at the very end of its parse, but not one in the
    // middle. An object's block size follows its class name, which is stored after its length.
    const std::size_t topClass = sound.find("osg::");
    std::uint32_t topClassLength = 0;
    std::memcpy(&topClassLength, sound.data() + topClass - sizeof topClassLength,
                sizeof topClassLength);
    overwrite("top_block_beyond_any_file", topClass + topClassLength, std::string(8, '\x7f'));
    overwrite("unknown_class", geometry + 12, "x");
    overwrite("huge_block_size", geometry + 13, std::string(8, '\x7f'));
    overwrite("unknown_class_huge_block", geometry + 12, std::string(5, '\x7f'));
    for (const std::size_t offset : {24, 40, 60, 100, 173, 700, 1500})
        overwrite("overwritten_at_" + std::to_string(offset), offset, std::string(4, '\x7f'));
    WriteHostileTiles(block, sound);
}

// How a plain load of a file ends. It runs in a child process, because on some damaged files
// the reader crashes or never returns.
enum class PlainLoad { Loaded, Failed, Crashed, Hung };
// How a plain load's child says the load returned nothing, or threw.
constexpr int kPlainLoadFailed = 3;
constexpr int kPlainLoadThrew = 4;

// Plain loads of every file at once, each in a child process given 5 s and 3 GB: a load that
// needs more has exhausted the memory a tool may take.
std::map<std::string, PlainLoad> LoadEachInChildProcess(const fs::path& block) {
    std::map<std::string, pid_t> children;
    std::fflush(nullptr);
    for (const auto& entry : fs::directory_iterator(block)) {
        const fs::path file = entry.path() / "root.osgb";
        const pid_t child = fork();
        if (child == 0) {
            osg::setNotifyLevel(osg::FATAL);
            // A sanitizer's shadow memory alone is larger than the limit.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
            const rlimit memory{rlim_t{3} << 30, rlim_t{3} << 30};
            setrlimit(RLIMIT_AS, &memory);
#endif
            try {
                _exit(osgDB::readRefNodeFile(file.string()) ? 0 : kPlainLoadFailed);
            } catch (...) {
                _exit(kPlainLoadThrew);
            }
        }
        children[entry.path().filename().string()] = child;
    }
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::map<std::string, PlainLoad> loads;
    for (const auto& [name, child] : children) {
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        if (kill(child, 0) == 0 && waitpid(child, &status, WNOHANG) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            loads[name] = PlainLoad::Hung;
        } else if (!WIFEXITED(status)) {
            loads[name] = PlainLoad::Crashed;
        } else if (WEXITSTATUS(status) == 0) {
            loads[name] = PlainLoad::Loaded;
        } else if (WEXITSTATUS(status) == kPlainLoadFailed ||
                   WEXITSTATUS(status) == kPlainLoadThrew) {
            loads[name] = PlainLoad::Failed;
        } else {
            // A sanitizer that catches the crash reports it and exits with its own status.
            loads[name] = PlainLoad::Crashed;
        }
    }
    return loads;
}

// The reader's warnings about damaged files are expected here and would fill the log.
class QuietReader {
public:
    QuietReader() : previous_(osg::getNotifyLevel()) { osg::setNotifyLevel(osg::FATAL); }
    ~QuietReader() { osg::setNotifyLevel(previous_); }
    QuietReader(const QuietReader&) = delete;
    QuietReader& operator=(const QuietReader&) = delete;

private:
    osg::NotifySeverity previous_;
};

// Small tiles parse in milliseconds; a hang need not be waited for long.
TileLimits ShortDeadlines() {
    TileLimits limits;
    limits.deadlineBase = std::chrono::seconds(3);
    return limits;
}

// What a dry run over `block` decides for each subfolder, by name.
std::vector<std::pair<std::string, TileStatus>> Validate(const fs::path& block, bool full,
                                                         const TileLimits& limits = {}) {
    ExportOptions options;
    options.limits = limits;
    options.dryRun = true;
    options.fullValidation = full;
    const ExportReport report = ExportFolderIndexes({block}, options);
    std::vector<std::pair<std::string, TileStatus>> statuses;
    for (const std::string& entry : report.folders.at(0).entries)
        statuses.emplace_back(entry.substr(0, entry.find('\\')), TileStatus::Valid);
    for (const LeftOutSubfolder& leftOut : report.folders.at(0).leftOut)
        statuses.emplace_back(leftOut.name.string(), leftOut.reason);
    std::sort(statuses.begin(), statuses.end());
    return statuses;
}

TEST(TileValidation, FastCheckAgreesWithLoadingEveryTileInFull) {
    TempDir dir;
    WriteCorpus(dir.path());
    const QuietReader quiet;
    const auto full = Validate(dir.path(), true);
    const auto fast = Validate(dir.path(), false);
    ASSERT_EQ(fast.size(), full.size());
    for (std::size_t i = 0; i < full.size(); ++i)
        EXPECT_EQ(int(fast[i].second), int(full[i].second)) << full[i].first;

    const std::map<std::string, TileStatus> byName(full.begin(), full.end());
    EXPECT_EQ(byName.at("plain"), TileStatus::Valid);
    EXPECT_EQ(byName.at("embedded_jpeg"), TileStatus::Valid);
    EXPECT_EQ(byName.at("nested"), TileStatus::Valid);
    EXPECT_EQ(byName.at("compressed"), TileStatus::Valid);
    EXPECT_EQ(byName.at("ascii_content"), TileStatus::Valid);
    EXPECT_EQ(byName.at("empty_file"), TileStatus::LoadFailed);
    EXPECT_EQ(byName.at("root_is_folder"), TileStatus::NotRegularFile);
    EXPECT_EQ(byName.at("no_root_file"), TileStatus::NoRootFile);
}

// Where a plain load returns, the fast check gives its answer; where the reader crashes or
// hangs, the tile fails instead of taking the run with it.
TEST(TileValidation, DamagedTilesFailWhereAPlainLoadFailsCrashesOrHangs) {
    TempDir dir;
    WriteDamagedTiles(dir.path());
    const QuietReader quiet;
    const std::map<std::string, PlainLoad> plain = LoadEachInChildProcess(dir.path());
    ASSERT_EQ(plain.at("sound"), PlainLoad::Loaded);
    ASSERT_EQ(plain.at("zlib_sound"), PlainLoad::Loaded) << "the compressed tiles are well made";
    EXPECT_EQ(plain.at("zlib_attributes_0c"), PlainLoad::Loaded);

    const auto verdicts = Validate(dir.path(), false, ShortDeadlines());
    const std::map<std::string, TileStatus> byName(verdicts.begin(), verdicts.end());
    EXPECT_EQ(byName.at("huge_array_count"), TileStatus::OutOfMemory);
    // A name of 2 GB fits under the second, higher ceiling where the machine has 4 GB of
    // memory or more; the read then finds the file ends first, or runs past the deadline.
    const TileStatus hugeName = byName.at("huge_compressor_name");
    EXPECT_TRUE(hugeName == TileStatus::OutOfMemory || hugeName == TileStatus::LoadFailed ||
                hugeName == TileStatus::TimedOut)
        << int(hugeName);
    int crashedOrHung = 0;
    for (const auto& [name, load] : plain) {
        EXPECT_EQ(byName.at(name) == TileStatus::Valid, load == PlainLoad::Loaded)
            << name << ", plain load " << int(load) << ", verdict " << int(byName.at(name));
        crashedOrHung += load == PlainLoad::Crashed || load == PlainLoad::Hung;
    }
    EXPECT_GT(crashedOrHung, 0) << "the corpus no longer holds a file the reader cannot take";
    EXPECT_EQ(plain.at("top_block_beyond_any_file"), PlainLoad::Loaded);
    EXPECT_NE(plain.at("huge_block_size"), PlainLoad::Loaded);
    for (int i = 1; i <= 16; ++i)
        EXPECT_NE(plain.at("cut_" + std::to_string(i)), PlainLoad::Loaded) << i;
}

// The reader finds neither name in the index's folder, then finds the bare "root.osgb" there:
// the index itself.
TEST(TileValidation, AnIndexThatResolvesToItselfIsACycle) {
    TempDir dir;
    WriteIndexOver(dir / "block" / "index", {"missing/root.osgb", "index/root.osgb"});
    const auto verdicts = Validate(dir / "block", false);
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_EQ(verdicts[0].second, TileStatus::Cycle);
}

// What a dry run over `block` reports for each subfolder it leaves out, by name.
std::map<std::string, LeftOutSubfolder> LeftOut(const fs::path& block, bool full,
                                                const TileLimits& limits = ShortDeadlines()) {
    ExportOptions options;
    options.limits = limits;
    options.dryRun = true;
    options.fullValidation = full;
    const ExportReport report = ExportFolderIndexes({block}, options);
    std::map<std::string, LeftOutSubfolder> byName;
    for (const LeftOutSubfolder& leftOut : report.folders.at(0).leftOut)
        byName[leftOut.name.string()] = leftOut;
    return byName;
}

TEST(TileValidation, AFailedLoadNamesItsCause) {
    TempDir dir;
    const fs::path block = dir / "block";
    const std::string sound = test::ReadBytes(WriteRealisticTile(block / "sound"));
    const auto write = [&](const std::string& name, const std::string& bytes) {
        test::WriteText(block / name / "root.osgb", bytes);
    };
    write("empty", "");
    write("text", "not a scene\n");
    write("jpeg",
          std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01", 13) + std::string(4000, '\x55'));
    write("cut_header", sound.substr(0, 14));
    write("cut_content", sound.substr(0, sound.size() / 2));
    write("bogus_compressor", sound.substr(0, kCompressorOffset) + LittleEndian32(5) + "lzma9" +
                                  Gzip(sound.substr(kCompressorOffset + 5)));
    std::string bumped = sound;
    bumped.replace(12, 4,
                   LittleEndian32(test::OsgbFileVersion(block / "sound" / "root.osgb") + 40));
    write("newer_version_sound", bumped);
    // A newer writer's file this reader cannot parse is told from one cut short by its version.
    write("newer_version_cut", bumped.substr(0, bumped.size() / 2));
    // Only the reader can tell what is wrong inside a compressed stream.
    const std::string zlib = Gzip(sound.substr(kCompressorOffset + 5));
    write("compressed_cut", sound.substr(0, kCompressorOffset) + LittleEndian32(4) + "zlib" +
                                zlib.substr(0, zlib.size() / 2));

    const QuietReader quiet;
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "fast");
        const auto leftOut = LeftOut(block, full);
        EXPECT_EQ(leftOut.count("sound"), 0u);
        EXPECT_EQ(leftOut.count("newer_version_sound"), 0u)
            << "a newer version alone does not stop the reader";
        const std::map<std::string, LoadFailure> expected = {
            {"empty", LoadFailure::EmptyFile},
            {"text", LoadFailure::NotAScene},
            {"jpeg", LoadFailure::NotAScene},
            {"cut_header", LoadFailure::Truncated},
            {"cut_content", LoadFailure::Truncated},
            {"bogus_compressor", LoadFailure::UnknownCompressor},
            {"newer_version_cut", LoadFailure::UnsupportedVersion},
            {"compressed_cut", LoadFailure::ReaderError},
        };
        for (const auto& [name, failure] : expected) {
            // The reader itself may run on for ever over an uncompressed file cut short.
            if (full && failure != LoadFailure::ReaderError && name.find("cut") != name.npos)
                continue;
            ASSERT_EQ(leftOut.count(name), 1u) << name;
            EXPECT_EQ(leftOut.at(name).reason, TileStatus::LoadFailed) << name;
            EXPECT_EQ(int(leftOut.at(name).loadFailure), int(failure)) << name;
        }
        const std::string& said = leftOut.at("compressed_cut").readerText;
        EXPECT_FALSE(said.empty()) << "the reader's own words";
        EXPECT_LE(said.size(), kMaxReaderText);
        EXPECT_TRUE(leftOut.at("empty").readerText.empty());
    }
}

// The index this tool writes, and any tile like it, makes a viewer load the files it names at
// once, and those the files name in turn.
TEST(TileValidation, FilesAnIndexTileNamesAreFollowedAndCyclesLeftOut) {
    TempDir dir;
    const fs::path block = dir / "block";
    test::WriteTile(block / "plain");
    // The reader's search finds the index itself for the missing name, for ever.
    WriteIndexOver(block / "missing_child", {"T1\\root.osgb", "../plain/root.osgb"});
    // A missing name whose bare file name names nothing is skipped.
    WriteIndexOver(block / "missing_other", {"T1\\tile.osgb", "../plain/root.osgb"});
    WriteIndexOver(block / "names_itself", {"root.osgb"});
    WriteIndexOver(block / "loop_a", {"..\\loop_b\\root.osgb"});
    WriteIndexOver(block / "loop_b", {"../loop_a/root.osgb"});
    // A cycle through another name for the same file.
    WriteIndexOver(block / "through_alias", {"alias.osgb"});
    fs::create_hard_link(block / "through_alias" / "root.osgb",
                         block / "through_alias" / "alias.osgb");
    // Two ways to one file are no cycle.
    test::WriteTile(block / "diamond" / "leaf");
    WriteIndexOver(block / "diamond" / "left", {"../leaf/root.osgb"});
    WriteIndexOver(block / "diamond", {"left/root.osgb", "left\\root.osgb", "leaf/root.osgb"});
    // A named file that fails to load is left out of the view, not the tile out of the index.
    test::WriteText(block / "broken_child" / "child.osgb", "not a scene");
    WriteIndexOver(block / "broken_child", {"child.osgb"});
    // A named file that exceeds the tile's memory ceiling takes the tile with it.
    WriteIndexOver(block / "hungry_child", {"child.osgb"});
    const std::string sound = test::ReadBytes(WriteRealisticTile(dir / "sound"));
    const std::size_t array = sound.find("osg::Vec3Array");
    ASSERT_NE(array, std::string::npos);
    const std::size_t count = sound.find(LittleEndian32(25 * 25), array);
    ASSERT_NE(count, std::string::npos);
    std::string hungry = sound;
    hungry.replace(count, 4, LittleEndian32(0x3fffffff));
    test::WriteText(block / "hungry_child" / "child.osgb", hungry);

    const QuietReader quiet;
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "fast");
        const auto leftOut = LeftOut(block, full);
        for (const char* name : {"plain", "missing_other", "diamond", "broken_child"})
            EXPECT_EQ(leftOut.count(name), 0u) << name;
        for (const char* name :
             {"missing_child", "names_itself", "loop_a", "loop_b", "through_alias"}) {
            ASSERT_EQ(leftOut.count(name), 1u) << name;
            EXPECT_EQ(leftOut.at(name).reason, TileStatus::Cycle) << name;
        }
        ASSERT_EQ(leftOut.count("hungry_child"), 1u);
        EXPECT_EQ(leftOut.at("hungry_child").reason, TileStatus::OutOfMemory);
    }
}

// Index tiles of the shapes whose names the reader's search resolves in its own way. A plain
// load of each either finishes or recurses until it is killed or its stack runs out; the
// check must call the first a tile that loads and the second a cycle.
TEST(TileValidation, IndexTilesAreCyclesExactlyWhenAPlainLoadRecurses) {
    TempDir dir;
    const fs::path block = dir / "block";
    // An index tile copied alone into a block: its names are missing under it, so the search
    // falls back to the bare "root.osgb" in its own folder.
    WriteIndexOver(block / "copied_alone", {"T1\\root.osgb", "T2\\root.osgb"});
    // "b.osgb" is not beside a/tile.osgb, which names it, but in the folder that named a,
    // which the search list still holds; b names a again. (The nested files are not called
    // root.osgb, so that the tile folders are tiles, not blocks.)
    WriteIndexOver(block / "through_search_list", {"a\\tile.osgb"});
    WriteIndexFile(block / "through_search_list" / "a" / "tile.osgb", {"b.osgb"});
    WriteIndexFile(block / "through_search_list" / "b.osgb", {"a\\tile.osgb"});
    // The same reach, ending at a tile.
    WriteIndexOver(block / "found_on_search_list", {"a\\tile.osgb"});
    WriteIndexFile(block / "found_on_search_list" / "a" / "tile.osgb", {"b.osgb"});
    test::WriteTile(dir / "spare");
    fs::copy_file(dir / "spare" / "root.osgb", block / "found_on_search_list" / "b.osgb");
    // Two files naming each other.
    WriteIndexOver(block / "loop_a", {"..\\loop_b\\root.osgb"});
    WriteIndexOver(block / "loop_b", {"../loop_a/root.osgb"});
    // A sound index of indexes, two levels deep, named with backslashes.
    WriteIndexOver(block / "nested", {"mid\\index.osgb"});
    WriteIndexFile(block / "nested" / "mid" / "index.osgb",
                   {"leaf\\deep\\tile.osgb", "missing\\x.osgb"});
    fs::create_directories(block / "nested" / "mid" / "leaf" / "deep");
    fs::copy_file(dir / "spare" / "root.osgb",
                  block / "nested" / "mid" / "leaf" / "deep" / "tile.osgb");

    const std::map<std::string, PlainLoad> plain = [&] {
        const QuietReader quiet;
        return LoadEachInChildProcess(block);
    }();
    const std::map<std::string, TileStatus> expected = {{"copied_alone", TileStatus::Cycle},
                                                        {"through_search_list", TileStatus::Cycle},
                                                        {"found_on_search_list", TileStatus::Valid},
                                                        {"loop_a", TileStatus::Cycle},
                                                        {"loop_b", TileStatus::Cycle},
                                                        {"nested", TileStatus::Valid}};
    ASSERT_EQ(plain.size(), expected.size());
    for (const auto& [name, status] : expected) {
        const bool recursed =
            plain.at(name) == PlainLoad::Hung || plain.at(name) == PlainLoad::Crashed;
        EXPECT_EQ(recursed, status == TileStatus::Cycle)
            << name << " is a shape the test misjudged";
    }
    const QuietReader quiet;
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "fast");
        std::map<std::string, TileStatus> checked;
        for (const auto& [name, status] : Validate(block, full, ShortDeadlines()))
            checked[name] = status;
        EXPECT_EQ(checked, expected);
    }
}

// Tiles whose names reach the index the run is about to write: directly, or through the
// reader's fallback to a bare "root.osgb", which finds the index in the block's folder (the
// tile's own root being named after its folder), or the index of the folder of blocks above.
// Before the index exists a check of the tile alone finds nothing there; a viewer opening the
// index then recurses without end. They are cycles, and the index written loads.
TEST(TileValidation, NamesReachingTheIndexAboutToBeWrittenAreCycles) {
    TempDir dir;
    const fs::path block = dir / "views" / "block";
    test::WriteTile(block / "T1");
    WriteIndexOver(block / "up", {"..\\root.osgb"});
    WriteIndexFile(block / "named" / "named.osgb", {"gone\\root.osgb"});
    const fs::path blocks = dir / "views" / "blocks";
    test::WriteTile(blocks / "B1" / "T1");
    WriteIndexFile(blocks / "B1" / "to_master" / "to_master.osgb", {"..\\..\\root.osgb"});
    WriteIndexFile(blocks / "B1" / "to_block" / "to_block.osgb", {"gone\\root.osgb"});
    test::WriteTile(blocks / "B2" / "T1");
    const QuietReader quiet;
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "fast");
        const std::map<std::string, TileStatus> expected = {
            {"T1", TileStatus::Valid}, {"named", TileStatus::Cycle}, {"up", TileStatus::Cycle}};
        std::map<std::string, TileStatus> checked;
        for (const auto& [name, status] : Validate(block, full, ShortDeadlines()))
            checked[name] = status;
        EXPECT_EQ(checked, expected);
    }
    ExportOptions options;
    options.limits = ShortDeadlines();
    const ExportReport report = ExportFolderIndexes({block, blocks}, options);
    ASSERT_EQ(report.folders.size(), 4u);
    const auto leftOutOf = [&](const fs::path& folder) {
        std::map<std::string, TileStatus> leftOut;
        for (const FolderReport& written : report.folders)
            if (written.folder == folder)
                for (const LeftOutSubfolder& tile : written.leftOut)
                    leftOut[tile.name.string()] = tile.reason;
        return leftOut;
    };
    EXPECT_EQ(leftOutOf(block), (std::map<std::string, TileStatus>{{"named", TileStatus::Cycle},
                                                                   {"up", TileStatus::Cycle}}));
    EXPECT_EQ(leftOutOf(blocks / "B1"),
              (std::map<std::string, TileStatus>{{"to_block", TileStatus::Cycle},
                                                 {"to_master", TileStatus::Cycle}}));
    const std::map<std::string, PlainLoad> plain = LoadEachInChildProcess(dir / "views");
    EXPECT_EQ(plain.at("block"), PlainLoad::Loaded);
    EXPECT_EQ(plain.at("blocks"), PlainLoad::Loaded);
}

// A production tile's root is a paged node whose first child is its coarsest level and whose
// ranges name finer files, which a viewer loads only when it comes close. Those files are
// here pipes with no writer: a check that opened one would wait on it until its deadline.
TEST(TileValidation, APagedTileLoadsWithoutItsFinerFilesBeingOpened) {
    TempDir dir;
    const fs::path block = dir / "block";
    for (const char* tile : {"Tile_001", "Tile_002"}) {
        const fs::path folder = block / tile;
        fs::create_directories(folder / "Data");
        osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD;
        root->addChild(MakeSampleTile(SampleTileParams{}).get(), 0.0f, 200.0f);
        for (const char* finer : {"Data/L17.osgb", "Data\\L18.osgb"}) {
            const unsigned child = root->getNumFileNames();
            root->setFileName(child, finer);
            root->setRange(child, 200.0f, 1e7f);
        }
        WriteScene(*root, folder / "root.osgb", "");
        for (const char* finer : {"L17.osgb", "L18.osgb"})
            ASSERT_EQ(mkfifo((folder / "Data" / finer).c_str(), 0600), 0);
        // Were the finer names followed, the second would be found under its bare name too.
        ASSERT_EQ(mkfifo((folder / "L18.osgb").c_str(), 0600), 0);
    }
    const QuietReader quiet;
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full" : "fast");
        const auto verdicts = Validate(block, full, ShortDeadlines());
        ASSERT_EQ(verdicts.size(), 2u);
        for (const auto& [name, status] : verdicts)
            EXPECT_EQ(status, TileStatus::Valid) << name;
    }
}

TEST(TileValidation, FullAndFastExportsWriteIdenticalFiles) {
    TempDir dir;
    WriteCorpus(dir / "block");
    ExportOptions options;
    options.fullValidation = true;
    ASSERT_TRUE(ExportFolderIndexes({dir / "block"}, options).succeeded());
    const std::string full = test::ReadBytes(dir / "block" / "root.osgb");
    options.fullValidation = false;
    ASSERT_TRUE(ExportFolderIndexes({dir / "block"}, options).succeeded());
    EXPECT_EQ(test::ReadBytes(dir / "block" / "root.osgb"), full);
}

// Which tiles of a folder of `tiles` the only worker gets together in its second batch (its
// first is one tile): the pool's rules, followed as the pool follows them.
std::pair<std::size_t, std::size_t> SecondBatch(std::size_t tiles) {
    const std::size_t first = 1;
    return {first, BatchTake(tiles - first, 1, BatchLimits{}.mostTiles)};
}

// Small tiles go to a worker in batches. A tile in one that crashes the reader, hangs it or
// runs out of memory costs only itself, wherever it lies in the batch: every other tile gets
// its own verdict, and the hostile one its own reason.
TEST(TileValidation, AHostileTileInABatchCostsOnlyItself) {
    TempDir dir;
    SampleTileParams params;
    params.texturePx = 8;
    params.gridCells = 12;
    params.embedJpeg = true;
    fs::create_directories(dir / "sound");
    WriteSampleTile(dir / "sound" / "root.osgb", params);
    const std::string sound = test::ReadBytes(dir / "sound" / "root.osgb");
    // Loaded in full, a tile cut short crashes the reader (see the damaged tiles above).
    const std::string crashes = sound.substr(0, sound.size() * 4 / 17);
    const fs::path text = dir / "text" / "scene.osgt";
    WriteScene(*osgDB::readRefNodeFile((dir / "sound" / "root.osgb").string()), text, "");
    std::string hangs = test::ReadBytes(text);
    const std::size_t drawables = hangs.find("Drawables 1 ");
    ASSERT_NE(drawables, std::string::npos);
    hangs.replace(drawables, 12, "Drawables 2147483647 ");
    std::string outOfMemory = sound;
    const std::size_t count =
        outOfMemory.find(LittleEndian32(13 * 13), outOfMemory.find("osg::Vec3Array"));
    ASSERT_NE(count, std::string::npos);
    outOfMemory.replace(count, 4, LittleEndian32(0x3fffffff));
    for (const std::size_t bytes : {sound.size(), crashes.size(), hangs.size(), outOfMemory.size()})
        ASSERT_LT(bytes, BatchLimits{}.mostBytes / 32) << "tiles that do not share a send";

    constexpr std::size_t kTiles = 41;
    const auto [begin, size] = SecondBatch(kTiles);
    ASSERT_GE(size, 3u);
    const std::size_t first = begin;
    const std::size_t middle = begin + size / 2;
    const std::size_t last = begin + size - 1;
    const std::vector<std::array<std::size_t, 3>> placements{
        {first, middle, last}, {last, first, middle}, {middle, last, first}};
    const std::array<TileStatus, 3> reasons{TileStatus::ReaderCrashed, TileStatus::TimedOut,
                                            TileStatus::OutOfMemory};
    const QuietReader quiet;
    for (const auto& places : placements) {
        const fs::path block = dir / ("block_" + std::to_string(places[0]));
        std::map<std::string, TileStatus> expected;
        for (std::size_t i = 0; i < kTiles; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "T%02zu", i);
            const fs::path root = block / name / "root.osgb";
            expected[name] = TileStatus::Valid;
            if (i == places[0])
                test::WriteText(root, crashes);
            else if (i == places[1])
                test::WriteText(root, hangs);
            else if (i == places[2])
                test::WriteText(root, outOfMemory);
            else
                test::WriteText(root, sound);
            for (std::size_t k = 0; k < 3; ++k) {
                if (i == places[k])
                    expected[name] = reasons[k];
            }
        }
        ExportOptions options;
        options.jobs = 1;
        options.dryRun = true;
        options.fullValidation = true;
        options.limits.deadlineBase = std::chrono::seconds(1);
        options.limits.deadlineBytesPerSecond = 0;
        const ExportReport report = ExportFolderIndexes({block}, options);
        std::map<std::string, TileStatus> verdicts;
        for (const std::string& entry : report.folders.at(0).entries)
            verdicts[entry.substr(0, 3)] = TileStatus::Valid;
        for (const LeftOutSubfolder& leftOut : report.folders.at(0).leftOut) {
            verdicts[leftOut.name.string()] = leftOut.reason;
            if (leftOut.reason == TileStatus::TimedOut) {
                EXPECT_EQ(leftOut.limit, 1000u) << "its own deadline, not the batch's";
            }
        }
        EXPECT_EQ(verdicts, expected) << "crash, hang, out of memory at " << places[0] << ", "
                                      << places[1] << ", " << places[2];
    }
}

} // namespace
} // namespace brindle
