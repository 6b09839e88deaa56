#pragma once

#include <osg/Vec3d>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brindle::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes a small loadable scene to `folder`/root.osgb, creating the folder.
void WriteTile(const std::filesystem::path& folder);

// Writes a loadable tile of at least `bytes` and at most a few hundred bytes more to
// `folder`/root.osgb, creating the folder: a point cloud drawn from `seed`, so the same
// arguments give the same file. Real tiles are 64 KB and up, and the run treats them so.
void WriteSizedTile(const std::filesystem::path& folder, std::uint64_t bytes, unsigned seed = 1);

// Writes a loadable tile to `folder`/root.osgb, creating the folder, that is small on disk
// but unpacks to much more: `vertices` points, 12 bytes each, on a small repeating grid,
// compressed.
void WriteHeavyTile(const std::filesystem::path& folder, std::uint64_t vertices);

void WriteText(const std::filesystem::path& file, const std::string& text);
std::string ReadBytes(const std::filesystem::path& file);
// Every file and folder below `folder`, by its path from there, with a file's bytes.
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& folder);

// A worker program (a POSIX shell script in `dir`) that notes each start in `log`, then is the
// real worker.
std::filesystem::path CountingWorker(const std::filesystem::path& dir,
                                     const std::filesystem::path& log);

// What an index file read back with the scene-graph library holds.
struct IndexContents {
    bool loaded = false;
    bool isTransformOverOneProxy = false;
    osg::Vec3d translation;
    std::vector<std::string> entries;
    unsigned loadedTiles = 0; // proxy children the reader loaded through the entries
};

IndexContents ReadIndex(const std::filesystem::path& file);

// Makes `link` lead to `target`, a path absolute or relative to the link's folder; false when
// the system lets no such link be made. On Windows a link to a folder is a junction (which
// needs no privilege) where junctions can be made, else a symbolic link; under Wine, whose
// calls make neither, it is a link of the host's, which Wine shows as a reparse point.
bool MakeLink(const std::filesystem::path& target, const std::filesystem::path& link);

// The file-format version in an .osgb header.
unsigned OsgbFileVersion(const std::filesystem::path& file);

} // namespace brindle::test
