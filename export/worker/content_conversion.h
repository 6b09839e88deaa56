#pragma once

#include "export/error/result.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/tiles3d/tile_content.h"
#include "export/worker/tile_validation.h"

#include <osg/Node>

#include <vector>

namespace brindle {

// How a worker makes a file's content from its parsed scene: MakeTileContent with the
// request's options by default (tests give one that fails).
using MakeContent = Result<TileContent> (*)(const osg::Node& scene, const CheckRequest& request);

// Serves Content requests in a tile-check worker: parses the file as a fast tile check does,
// with the images it embeds decoded and their JPEG or PNG bytes kept, writes its own level's
// content where the request says, and tells the files its paged nodes name.
class FileConverter {
public:
    FileConverter(const TileValidator& validator, MakeContent make = nullptr);
    CheckReply convert(const CheckRequest& request);

private:
    const TileValidator& validator_;
    MakeContent make_;
    bool keepingImageBytes_ = false;
};

// The files the paged nodes of `scene` name in their ranges (not the children they hold), in
// scene order, as a viewer resolves them: the node's database path (which the reader sets to
// the file's folder where the file gives none), else `folder`, followed by the name; with
// each node's switch, centre and radius. At most `most` of them; `named` counts them all.
std::vector<FinerName> FinerNamesOf(osg::Node& scene, const std::string& folder, std::size_t most,
                                    std::uint32_t& named);

} // namespace brindle
