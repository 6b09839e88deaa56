#pragma once

#include "export/overview/node_file.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/pyramid_tree.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// The hashes of a pyramid's subtrees: equal between two runs only where everything a node's
// file is made from is, so that a later run can tell which nodes of an earlier pyramid it may
// take as they are.
class SubtreeHashes {
public:
    explicit SubtreeHashes(const PyramidOptions& options);

    // Of the node's place, its children's names and hashes.
    std::uint64_t Node(const PyramidTree& tree, std::size_t n,
                       const std::array<std::uint64_t, 4>& childHashes) const;
    // Of a leaf's tiles as its level-1 node names and shows them.
    std::uint64_t Leaf(const PyramidTree& tree, std::size_t leaf) const;
    // Each node's hash as it will come out, where every tile below it is known already.
    std::vector<std::optional<std::uint64_t>>
    Known(const PyramidTree& tree, const std::vector<std::optional<KnownTile>>& known) const;

private:
    const std::uint64_t shape_; // what shapes every node besides its tiles
};

// A node that shows nothing of a taken child that did not read back says so in its hash, so
// that no later run takes its file once the child is whole again.
std::uint64_t WithoutChild(std::uint64_t hash);

// An earlier pyramid's node file that a node may be taken from.
struct EarlierNodeFile {
    std::filesystem::path file;
    std::uint64_t content = 0; // the hash of its bytes, as its manifest recorded it
};

// The nodes of an earlier pyramid, as its manifest records them, and how its files are put in
// place in the new pyramid's folder.
class EarlierNodes {
public:
    EarlierNodes(EarlierPyramid earlier, NodeFileCalls files);

    // There is an earlier pyramid to take nodes from.
    bool Exist() const { return earlier_.manifest != nullptr; }
    const std::filesystem::path& Folder() const { return earlier_.folder; }
    // The earlier file of node `name` whose subtree hashed `hash`, when it is still as the
    // manifest recorded it.
    std::optional<EarlierNodeFile> Unchanged(const std::string& name, std::uint64_t hash) const;
    // Puts an earlier node file in place as `file`.
    bool Put(const std::filesystem::path& from, const std::filesystem::path& file) const;

    // The subtrees whose tiles are all known and whose top hashes as the earlier manifest says,
    // each the highest such of its branch, their files put in place in `folder`.
    struct Taken {
        UnchangedNodesTaken result;
        std::vector<std::size_t> summariesWanted; // the nodes of result.summariesWanted
        OverviewManifest manifest;                // the files put in place
        std::uint64_t bytes = 0;                  // of all of them
    };
    Taken TakeUnchangedSubtrees(PyramidTree& tree, const SubtreeHashes& hashes,
                                const std::vector<std::optional<KnownTile>>& known,
                                const std::filesystem::path& folder) const;
    // The earlier top's file name, when every node comes to the hash the earlier manifest
    // gives it and every node file is still as recorded.
    std::optional<std::string>
    UnchangedTop(const PyramidTree& tree, const SubtreeHashes& hashes,
                 const std::vector<std::optional<KnownTile>>& known) const;

private:
    bool TakeSubtree(PyramidTree& tree, std::size_t top, const std::filesystem::path& folder,
                     Taken& taken) const;

    const EarlierPyramid earlier_;
    const NodeFileCalls files_;
};

} // namespace brindle
