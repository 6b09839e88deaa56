// brindle-glb: a developers' tool that converts one tile file's own level to a binary glTF
// file, to try the 3D Tiles content out, and lists the finer files its paged nodes name, as a
// converting worker replies them. The glb lands where the tile's vertices are: its root node
// carries the content's centre, so a glTF viewer shows it in the tile's own coordinates. It
// parses the tile in its own process, with none of the limits the tile-check workers read
// tiles under: use it on trusted files only.
#include "export/tiles3d/b3dm_content.h"
#include "export/tiles3d/kept_image_bytes.h"
#include "export/tiles3d/tile_content.h"
#include "export/worker/content_conversion.h"

#include <CLI/CLI.hpp>
#include <osgDB/ReadFile>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"For developers: converts one tile file's own level (the geometry it holds "
                 "inline, never the files its ranges name) to a binary glTF file. It parses "
                 "the tile in this process, without the workers' deadline and memory limit: "
                 "use it on trusted files only."};
    std::string input, output;
    brindle::ContentOptions options;
    app.add_option("TILE", input, "The tile file (.osgb)")->required();
    app.add_option("GLB", output, "The binary glTF file to write")->required();
    app.add_option("--max-texture", options.maxTextureEdge,
                   "Textures wider or higher than this are left out")
        ->capture_default_str();
    app.add_flag("--quantize", options.quantize,
                 "16-bit positions, normals and texture coordinates (KHR_mesh_quantization)");
    bool b3dm = false;
    app.add_flag("--b3dm", b3dm,
                 "Write the glb inside a Batched 3D Model (b3dm), as a 3D Tiles 1.0 "
                 "content");
    CLI11_PARSE(app, argc, argv);

    brindle::KeepEmbeddedImageBytes();
    const auto start = std::chrono::steady_clock::now();
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(input);
    if (!scene) {
        std::cerr << input << ": not readable as a scene\n";
        return 1;
    }
    const auto read = std::chrono::steady_clock::now();
    const brindle::Result<brindle::TileContent> content = brindle::MakeTileContent(*scene, options);
    const auto converted = std::chrono::steady_clock::now();
    if (!content) {
        std::cerr << input << ": " << content.error().message() << "\n";
        return 1;
    }
    const std::string bytes = b3dm ? brindle::B3dmAround(content->glb) : content->glb;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << output << ": not written\n";
        return 1;
    }
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::cout.precision(12);
    std::cout << output << ": " << bytes.size() << " bytes, " << content->vertices << " vertices, "
              << content->triangles << " triangles (" << content->skippedTriangles << " skipped), "
              << content->images << " images (" << content->keptImages << " as read, "
              << content->droppedTextures << " textures left out)\n"
              << "centre " << content->centre.x() << " " << content->centre.y() << " "
              << content->centre.z() << " (the root node's translation, as x, z, -y)\n"
              << "read " << ms(read - start) << " ms, converted " << ms(converted - read)
              << " ms\n";
    std::uint32_t named = 0;
    const std::filesystem::path folder = std::filesystem::path(input).parent_path();
    for (const brindle::FinerName& finer :
         brindle::FinerNamesOf(*scene, folder.empty() ? "." : folder.string(), 1000, named))
        std::cout << "finer " << finer.path << ": " << (finer.pixels ? "at " : "nearer than ")
                  << finer.switchAt << (finer.pixels ? " pixels" : "") << ", centre "
                  << finer.centre[0] << " " << finer.centre[1] << " " << finer.centre[2]
                  << ", radius " << finer.radius << "\n";
    return 0;
}
