#include "export/overview/pyramid_reuse.h"

#include "export/hash/fnv1a.h"
#include "export/overview/node_bound.h"
#include "export/overview/node_stamp.h"

#include <osg/Version>

#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// Subtree hashes (FNV-1a) tell a node that changed from one that did not, between
// runs on one machine, and need no more than that.
class SubtreeHash {
public:
    SubtreeHash& add(std::string_view bytes) {
        hash_.addWord(bytes.size()).addBytes(bytes);
        return *this;
    }
    SubtreeHash& add(std::uint64_t value) {
        hash_.addWord(value);
        return *this;
    }
    std::uint64_t value() const { return hash_.value(); }

private:
    Fnv1a hash_;
};

std::uint64_t FloatBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// What shapes every node besides its tiles: the options and the code that builds them.
std::uint64_t ShapeHash(const PyramidOptions& options) {
    SubtreeHash hash;
    hash.add(BRINDLE_VERSION).add(osgGetVersion()).add(options.namePrefix);
    hash.add(FloatBits(options.mesh.relativeError)).add(FloatBits(options.mesh.relativeSkirtDepth));
    hash.add(static_cast<std::uint64_t>(options.jpegQuality)).add(FloatBits(options.texelPixels));
    hash.add(static_cast<std::uint64_t>(kNodeFileVersion));
    hash.add(kCoarseMeshDrawing);
    return hash.value();
}

void AddTileToLeafHash(SubtreeHash& hash, const std::string& entry, bool listed,
                       std::uint64_t stamp) {
    hash.add(entry).add(std::uint64_t{listed ? 1u : 0u}).add(stamp);
}

} // namespace

SubtreeHashes::SubtreeHashes(const PyramidOptions& options) : shape_(ShapeHash(options)) {}

std::uint64_t SubtreeHashes::Node(const PyramidTree& tree, std::size_t n,
                                  const std::array<std::uint64_t, 4>& childHashes) const {
    const OverviewNode& node = tree.Node(n);
    SubtreeHash hash;
    hash.add(shape_).add(static_cast<std::uint64_t>(node.level));
    hash.add(static_cast<std::uint64_t>(node.x)).add(static_cast<std::uint64_t>(node.y));
    for (std::size_t q = 0; q < 4; ++q) {
        const std::size_t child = node.children[q];
        if (child == kNoNode) {
            hash.add(std::uint64_t{0});
            continue;
        }
        hash.add(std::uint64_t{1}).add(tree.FileName(child));
        hash.add(childHashes[q]);
    }
    return hash.value();
}

std::uint64_t SubtreeHashes::Leaf(const PyramidTree& tree, std::size_t leaf) const {
    const OverviewNode& node = tree.Node(leaf);
    const PyramidNode& state = tree.State(leaf);
    SubtreeHash hash;
    for (std::size_t slot = 0; slot < node.tiles.size(); ++slot) {
        const std::size_t tile = node.tiles[slot];
        AddTileToLeafHash(hash, tree.Entry(tile), tree.Named(tile), state.stamps[slot]);
    }
    return hash.value();
}

std::vector<std::optional<std::uint64_t>>
SubtreeHashes::Known(const PyramidTree& tree,
                     const std::vector<std::optional<KnownTile>>& known) const {
    const std::size_t count = tree.Shape().nodes.size();
    std::vector<std::optional<std::uint64_t>> hashes(count);
    // Children come before their parents.
    for (std::size_t n = 0; n < count; ++n) {
        const OverviewNode& node = tree.Node(n);
        if (node.IsLeaf()) {
            SubtreeHash hash;
            bool all = true;
            for (const std::size_t tile : node.tiles) {
                all = all && known[tile].has_value();
                if (all)
                    AddTileToLeafHash(hash, tree.Entry(tile), known[tile]->listed,
                                      known[tile]->stamp);
            }
            if (all)
                hashes[n] = hash.value();
            continue;
        }
        std::array<std::uint64_t, 4> children{};
        bool all = true;
        for (std::size_t q = 0; q < 4 && all; ++q)
            if (node.children[q] != kNoNode) {
                all = hashes[node.children[q]].has_value();
                children[q] = all ? *hashes[node.children[q]] : 0;
            }
        if (all)
            hashes[n] = Node(tree, n, children);
    }
    return hashes;
}

std::uint64_t WithoutChild(std::uint64_t hash) {
    return hash ^ 0x6d697373696e6721ull;
}

EarlierNodes::EarlierNodes(EarlierPyramid earlier, NodeFileCalls files)
    : earlier_(std::move(earlier)), files_(std::move(files)) {}

std::optional<EarlierNodeFile> EarlierNodes::Unchanged(const std::string& name,
                                                       std::uint64_t hash) const {
    if (!earlier_.manifest)
        return std::nullopt;
    const auto before = earlier_.manifest->nodes.find(name);
    const fs::path file = earlier_.folder / name;
    if (before == earlier_.manifest->nodes.end() || before->second.hash != hash ||
        !NodeFileHolds(file, before->second.file))
        return std::nullopt;
    return EarlierNodeFile{file, before->second.file.content};
}

bool EarlierNodes::Put(const fs::path& from, const fs::path& file) const {
    return files_.reuse && files_.reuse(from, file);
}

EarlierNodes::Taken
EarlierNodes::TakeUnchangedSubtrees(PyramidTree& tree, const SubtreeHashes& hashes,
                                    const std::vector<std::optional<KnownTile>>& known,
                                    const fs::path& folder) const {
    Taken taken;
    taken.result.tilesUnderTakenNodes.assign(tree.TileCount(), false);
    if (!earlier_.manifest || earlier_.folder.empty() || !files_.reuse ||
        known.size() != tree.TileCount())
        return taken;
    const std::vector<std::optional<std::uint64_t>> knownHashes = hashes.Known(tree, known);
    // From the top down, so that the highest unchanged node of each branch is taken, with
    // everything below it.
    std::vector<bool> takenWhole(tree.Shape().nodes.size(), false);
    for (std::size_t n = tree.Shape().nodes.size(); n-- > 0;) {
        const OverviewNode& node = tree.Node(n);
        if (node.parent != kNoNode && takenWhole[node.parent]) {
            takenWhole[n] = true;
            for (const std::size_t tile : node.tiles) {
                taken.result.tilesUnderTakenNodes[tile] = true;
                tree.PutUnderTakenNode(tile, known[tile]->listed);
            }
            continue;
        }
        if (node.IsLeaf() || !knownHashes[n])
            continue;
        const auto before = earlier_.manifest->nodes.find(tree.FileName(n));
        if (before == earlier_.manifest->nodes.end() || before->second.hash != *knownHashes[n])
            continue;
        if (!TakeSubtree(tree, n, folder, taken))
            continue;
        takenWhole[n] = true;
        tree.State(n).hash = *knownHashes[n];
        tree.State(n).box = BoxOf(before->second);
        if (node.parent != kNoNode) {
            taken.summariesWanted.push_back(n);
            taken.result.summariesWanted.push_back(before->first);
        }
    }
    return taken;
}

// Puts the files of the node and every node below it in place from the earlier pyramid, as
// they are; false when one could not be, and then none of them is left.
bool EarlierNodes::TakeSubtree(PyramidTree& tree, std::size_t top, const fs::path& folder,
                               Taken& taken) const {
    std::vector<std::size_t> below{top};
    std::vector<fs::path> made;
    std::uint64_t bytes = 0;
    OverviewManifest takenNodes;
    for (std::size_t i = 0; i < below.size(); ++i) {
        const OverviewNode& node = tree.Node(below[i]);
        for (const std::size_t child : node.children)
            if (child != kNoNode && !tree.Node(child).IsLeaf())
                below.push_back(child);
        const std::string name = tree.FileName(below[i]);
        const auto before = earlier_.manifest->nodes.find(name);
        const bool put = before != earlier_.manifest->nodes.end() &&
                         NodeFileHolds(earlier_.folder / name, before->second.file) &&
                         files_.reuse(earlier_.folder / name, folder / name);
        if (!put) {
            for (const fs::path& file : made) {
                std::error_code ignored;
                fs::remove(file, ignored);
            }
            return false;
        }
        made.push_back(folder / name);
        ManifestNode record = before->second;
        record.file = StampNodeFile(made.back(), before->second.file.content);
        takenNodes.nodes.emplace(name, record);
        bytes += record.file.facts.size;
    }
    for (const std::size_t node : below)
        tree.State(node).taken = true;
    taken.result.nodeFiles += made.size();
    taken.bytes += bytes;
    taken.manifest.nodes.insert(takenNodes.nodes.begin(), takenNodes.nodes.end());
    return true;
}

std::optional<std::string>
EarlierNodes::UnchangedTop(const PyramidTree& tree, const SubtreeHashes& hashes,
                           const std::vector<std::optional<KnownTile>>& known) const {
    if (!earlier_.manifest || tree.Shape().IsEmpty() || known.size() != tree.TileCount())
        return std::nullopt;
    const std::vector<std::optional<std::uint64_t>> knownHashes = hashes.Known(tree, known);
    for (std::size_t n = 0; n < tree.Shape().nodes.size(); ++n) {
        if (tree.Node(n).IsLeaf())
            continue;
        const std::string name = tree.FileName(n);
        const auto before = earlier_.manifest->nodes.find(name);
        if (!knownHashes[n] || before == earlier_.manifest->nodes.end() ||
            before->second.hash != *knownHashes[n] ||
            !NodeFileHolds(earlier_.folder / name, before->second.file))
            return std::nullopt;
    }
    return tree.FileName(tree.Shape().Root());
}

} // namespace brindle
