#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTileSizeMetres = 100.0;

// std::mt19937's output sequence is fixed by the standard, unlike the standard distributions,
// so drawing through these helpers keeps blocks identical across compilers.
int DrawInt(std::mt19937& rng, int lo, int hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<int>(rng() % span);
}

double DrawUnit(std::mt19937& rng) {
    return rng() / 4294967296.0;
}

// A smooth field made of a few random waves: gives hills for the mesh and blotches for the
// texture, both of which compress and render like real data rather than like noise.
struct WaveField {
    struct Wave {
        double fx, fy, phase, amplitude;
    };
    std::array<Wave, 4> waves{};

    explicit WaveField(std::mt19937& rng) {
        for (auto& w : waves) {
            w.fx = 0.5 + 3.0 * DrawUnit(rng);
            w.fy = 0.5 + 3.0 * DrawUnit(rng);
            w.phase = 2.0 * kPi * DrawUnit(rng);
            w.amplitude = 0.2 + DrawUnit(rng);
        }
    }

    // u and v run over [0, 1] across the tile.
    double operator()(double u, double v) const {
        double sum = 0.0;
        for (const auto& w : waves) {
            sum += w.amplitude * std::sin(2.0 * kPi * (w.fx * u + w.fy * v) + w.phase);
        }
        return sum;
    }
};

// A tile's terrain height in metres over the tile's fractions u and v.
using Height = std::function<double(double, double)>;

// How much of the light a texel of a surface of these heights gets, as a photogrammetry
// texture holds it: the sun's lambert term over the slope, never quite black.
double BakedLight(const Height& height, double u, double v, double step, double sizeMetres) {
    static const osg::Vec3d sun = [] {
        osg::Vec3d direction(-1.0, 1.0, 1.5);
        direction.normalize();
        return direction;
    }();
    const double metres = 2 * step * sizeMetres;
    osg::Vec3d normal(-(height(u + step, v) - height(u - step, v)) / metres,
                      -(height(u, v + step) - height(u, v - step)) / metres, 1.0);
    normal.normalize();
    return 0.45 + 0.55 * std::max(0.0, normal * sun);
}

// `light`, when given, darkens each texel by the light its surface gets.
osg::ref_ptr<osg::Image> MakeTextureImage(int px, std::mt19937& rng,
                                          const std::function<double(double, double)>& light) {
    const WaveField field(rng);
    const std::array<double, 3> base = {60 + 80 * DrawUnit(rng), 70 + 80 * DrawUnit(rng),
                                        40 + 60 * DrawUnit(rng)};
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(px, px, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int y = 0; y < px; ++y) {
        unsigned char* row = image->data(0, y);
        for (int x = 0; x < px; ++x) {
            const double shade = 40.0 * field(double(x) / px, double(y) / px);
            const double grain = DrawInt(rng, -12, 12);
            const double lit = light ? light((x + 0.5) / px, (y + 0.5) / px) : 1.0;
            for (int c = 0; c < 3; ++c) {
                const double value = std::clamp((base[c] + shade + grain) * lit, 0.0, 255.0);
                row[3 * x + c] = static_cast<unsigned char>(value);
            }
        }
    }
    return image;
}

// The terrain's height across a tile: the tile's own hills, or those of the block's one
// terrain, whose waves are as long as a tile's and which runs on across the tile's edges into
// its neighbours.
Height TerrainHeight(const SampleTileParams& params, std::mt19937& rng) {
    if (!params.seamless) {
        const WaveField field(rng);
        const double relief = 2.0 + 6.0 * DrawUnit(rng);
        return [field, relief](double u, double v) { return relief * field(u, v); };
    }
    std::mt19937 terrain(params.terrainSeed);
    const WaveField field(terrain);
    const double relief = 2.0 + 6.0 * DrawUnit(terrain);
    const double size = params.sizeMetres;
    const osg::Vec2d cells = params.offset / size;
    return [field, relief, cells](double u, double v) {
        return relief * field(cells.x() + u, cells.y() + v);
    };
}

osg::ref_ptr<osg::Geometry> MakeTerrainMesh(const SampleTileParams& params, const Height& terrain) {
    const int n = params.gridCells;
    const double step = params.sizeMetres / n;
    const auto height = [&terrain, n](int i, int j) {
        return terrain(double(i) / n, double(j) / n);
    };

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array;
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            vertices->push_back(osg::Vec3(params.offset.x() + i * step,
                                          params.offset.y() + j * step, height(i, j)));
            // Central differences; one-sided at the edges through clamped neighbours.
            const double dx = height(std::min(i + 1, n), j) - height(std::max(i - 1, 0), j);
            const double dy = height(i, std::min(j + 1, n)) - height(i, std::max(j - 1, 0));
            osg::Vec3 normal(-dx / (2 * step), -dy / (2 * step), 1.0);
            normal.normalize();
            if (!params.lightInTexture) {
                normals->push_back(normal);
            }
            texCoords->push_back(osg::Vec2(float(i) / n, float(j) / n));
        }
    }

    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    const auto index = [n](int i, int j) { return static_cast<unsigned>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            for (const unsigned v : {index(i, j), index(i + 1, j), index(i + 1, j + 1), index(i, j),
                                     index(i + 1, j + 1), index(i, j + 1)}) {
                triangles->push_back(v);
            }
        }
    }

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    if (!params.lightInTexture) {
        geometry->setNormalArray(normals, osg::Array::BIND_PER_VERTEX);
    }
    geometry->setTexCoordArray(0, texCoords);
    geometry->addPrimitiveSet(triangles);
    return geometry;
}

void WriteTextFile(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FormatNumber(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(15);
    out << value;
    return out.str();
}

std::string TileName(int column, int row) {
    std::ostringstream out;
    out << "Tile_+" << std::setw(3) << std::setfill('0') << column << "_+" << std::setw(3)
        << std::setfill('0') << row;
    return out.str();
}

void CreateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        throw std::runtime_error("cannot create folder " + folder.string() + ": " + ec.message());
    }
}

void CheckOptions(const SampleBlockOptions& o) {
    if (o.tileCount < 0 || o.tileCount > 999 * 999) {
        throw std::invalid_argument("tile count must be between 0 and 998001");
    }
    if (o.minTexturePx < 1 || o.minTexturePx > o.maxTexturePx || o.maxTexturePx > 8192) {
        throw std::invalid_argument("texture sizes need 1 <= min <= max <= 8192");
    }
    if (o.minGridCells < 1 || o.minGridCells > o.maxGridCells || o.maxGridCells > 1024) {
        throw std::invalid_argument("grid cell counts need 1 <= min <= max <= 1024");
    }
    if (o.writtenLevels < 0 || (o.writtenLevels > 0 && !o.pagedRoot) ||
        (o.maxTexturePx << o.writtenLevels) > 8192 || (o.maxGridCells << o.writtenLevels) > 1024) {
        throw std::invalid_argument("written levels need a paged root and, at the finest, "
                                    "textures up to 8192 px and grids up to 1024 cells");
    }
}

int GridSide(int tileCount) {
    int side = 1;
    while (side * side < tileCount) {
        ++side;
    }
    return side;
}

// A prefix of a real tile: starts like an .osgb, so only a reader that checks it fully
// rejects it, which is the case the exporter has to handle.
void WriteCorruptTile(const fs::path& file, const SampleTileParams& params) {
    WriteSampleTile(file, params);
    const std::string bytes = ReadBytes(file);
    WriteTextFile(file, bytes.substr(0, bytes.size() / 3));
}

} // namespace

SampleTileParams SampleTileParamsFor(const SampleBlockOptions& options, int index) {
    // Seeding through seed_seq mixes seed and index, so neighbouring seeds do not give
    // shifted copies of the same tiles.
    std::seed_seq seq{options.seed, static_cast<unsigned>(index)};
    std::mt19937 rng(seq);
    const int side = GridSide(options.tileCount);
    SampleTileParams params;
    params.texturePx = DrawInt(rng, options.minTexturePx, options.maxTexturePx);
    params.gridCells = DrawInt(rng, options.minGridCells, options.maxGridCells);
    params.sizeMetres = kTileSizeMetres;
    params.offset = osg::Vec2d((index % side) * kTileSizeMetres, (index / side) * kTileSizeMetres);
    params.seed = rng();
    params.embedJpeg = options.embedJpeg;
    params.pagedRoot = options.pagedRoot;
    params.seamless = options.seamless;
    params.terrainSeed = options.seed;
    params.writtenLevels = options.writtenLevels;
    params.lightInTexture = options.lightInTexture;
    return params;
}

namespace {

// Parameters for the non-grid folders: indices past the grid keep their seeds apart from the
// valid tiles', and they sit at the origin since no grid cell is theirs.
SampleTileParams OddTileParams(const SampleBlockOptions& options, int which) {
    SampleTileParams params = SampleTileParamsFor(options, options.tileCount + which);
    params.offset = osg::Vec2d();
    return params;
}

} // namespace

osg::ref_ptr<osg::Node> MakeSampleTile(const SampleTileParams& params) {
    std::mt19937 rng(params.seed);
    const Height terrain = TerrainHeight(params, rng);
    osg::ref_ptr<osg::Geometry> mesh = MakeTerrainMesh(params, terrain);

    std::function<double(double, double)> light;
    if (params.lightInTexture) {
        const double step = 1.0 / params.texturePx;
        light = [terrain, step, size = params.sizeMetres](double u, double v) {
            return BakedLight(terrain, u, v, step, size);
        };
    }
    osg::ref_ptr<osg::Texture2D> texture =
        new osg::Texture2D(MakeTextureImage(params.texturePx, rng, light));
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    mesh->getOrCreateStateSet()->setTextureAttributeAndModes(0, texture);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(mesh);
    return geode;
}

namespace {

// A production tile's level: the mesh inline, shown from afar, and the finer level in a file
// of its own, loaded up close.
osg::ref_ptr<osg::Node> PagedOver(osg::Node& mesh, const std::string& finer, float pixels) {
    osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD;
    root->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    root->addChild(&mesh, 0.0f, pixels);
    root->setFileName(1, finer);
    root->setRange(1, pixels, 1e30f);
    return root;
}

// The file of finer level `level` (1 the first below the root) of the tile in `root`.
std::string LevelFileName(const fs::path& root, int level) {
    return root.stem().string() + "_L" + std::to_string(level) + ".osgb";
}

// Writes `node`, holding `tile` (a mesh from MakeSampleTile), to `file`.
void WriteTileNode(const fs::path& file, osg::Node& node, osg::Node& tile,
                   const SampleTileParams& params) {
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=IncludeData");

    fs::path jpeg;
    if (params.embedJpeg) {
        // The osgb writer embeds an image file's bytes verbatim, so the JPEG has to exist on
        // disk while the tile is written; it is looked up relative to the tile's folder.
        auto* texture = static_cast<osg::Texture2D*>(
            tile.asGeode()->getDrawable(0)->getStateSet()->getTextureAttribute(
                0, osg::StateAttribute::TEXTURE));
        osg::Image* image = texture->getImage();
        jpeg = file.parent_path() / (file.stem().string() + "_texture.jpg");
        if (!osgDB::writeImageFile(*image, jpeg.string())) {
            throw std::runtime_error("cannot write " + jpeg.string() +
                                     ": is the jpeg plugin installed?");
        }
        image->setFileName(jpeg.filename().string());
        options = new osgDB::Options("WriteImageHint=IncludeFile");
        options->setDatabasePath(file.parent_path().string());
    }

    const bool written = osgDB::writeNodeFile(node, file.string(), options.get());
    if (!jpeg.empty()) {
        std::error_code ignored;
        fs::remove(jpeg, ignored);
    }
    if (!written) {
        throw std::runtime_error("cannot write " + file.string());
    }
    if (params.embedJpeg && ReadBytes(file).find("\xFF\xD8\xFF") == std::string::npos) {
        throw std::runtime_error(file.string() + " was written without its JPEG texture");
    }
}

} // namespace

void WriteSampleTile(const fs::path& file, const SampleTileParams& params) {
    const osg::ref_ptr<osg::Node> tile = MakeSampleTile(params);
    if (!params.pagedRoot) {
        WriteTileNode(file, *tile, *tile, params);
        return;
    }
    constexpr float kRootPixels = 400.0f;
    WriteTileNode(file, *PagedOver(*tile, LevelFileName(file, 1), kRootPixels), *tile, params);
    // Each finer level doubles the resolution, and is left for the next at twice the size on
    // screen.
    for (int level = 1; level <= params.writtenLevels; ++level) {
        SampleTileParams finer = params;
        finer.gridCells = params.gridCells << level;
        finer.texturePx = params.texturePx << level;
        const osg::ref_ptr<osg::Node> mesh = MakeSampleTile(finer);
        const fs::path levelFile = file.parent_path() / LevelFileName(file, level);
        const osg::ref_ptr<osg::Node> node =
            level == params.writtenLevels
                ? mesh
                : PagedOver(*mesh, LevelFileName(file, level + 1), kRootPixels * (1 << level));
        WriteTileNode(levelFile, *node, *mesh, params);
    }
}

SampleBlock WriteSampleBlock(const fs::path& dir, const SampleBlockOptions& options) {
    CheckOptions(options);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_empty(dir, ec)) {
        throw std::runtime_error("folder " + dir.string() + " is not empty");
    }
    CreateFolder(dir);

    SampleBlock block;
    block.folder = dir;

    WriteTextFile(dir / "report.txt", "Brindle sample block, seed " + std::to_string(options.seed) +
                                          ", " + std::to_string(options.tileCount) + " tiles\n" +
                                          "X: " + FormatNumber(options.originX) +
                                          " Y: " + FormatNumber(options.originY) +
                                          " Z: " + FormatNumber(options.originZ) + "\n" +
                                          "Tile coordinates are metres relative to this origin.\n");
    WriteTextFile(dir / "notes.txt", "A plain file: not a tile folder.\n");

    const int side = GridSide(options.tileCount);
    for (int index = 0; index < options.tileCount; ++index) {
        const std::string name = TileName(index % side, index / side);
        CreateFolder(dir / name);
        WriteSampleTile(dir / name / "root.osgb", SampleTileParamsFor(options, index));
        block.validTiles.push_back(name);
    }

    // The odd folders reuse small tile parameters: their content matters, not their size.
    SampleBlockOptions small = options;
    small.minTexturePx = small.maxTexturePx = std::min(options.minTexturePx, 32);
    small.minGridCells = small.maxGridCells = std::min(options.minGridCells, 4);

    CreateFolder(dir / "Empty_Tile");
    WriteTextFile(dir / "Empty_Tile" / "readme.txt", "This tile folder has no root.osgb.\n");
    CreateFolder(dir / "Corrupt_Tile");
    WriteCorruptTile(dir / "Corrupt_Tile" / "root.osgb", OddTileParams(small, 1));
    CreateFolder(dir / "Nested_Tile" / "Data");
    WriteSampleTile(dir / "Nested_Tile" / "Data" / "root.osgb", OddTileParams(small, 2));
    block.invalidTiles = {"Corrupt_Tile", "Empty_Tile", "Nested_Tile"};

    std::sort(block.validTiles.begin(), block.validTiles.end());
    std::sort(block.invalidTiles.begin(), block.invalidTiles.end());
    return block;
}

} // namespace brindle
