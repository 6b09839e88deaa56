#include "export/tiles3d/b3dm_content.h"

#include "export/tiles3d/glb_container.h"

#include <cstdint>

namespace brindle {
namespace {

constexpr std::size_t kHeaderBytes = 28;
constexpr std::size_t kAlignment = 8;

// The glb, ending on 8 bytes as a b3dm's glb must: a glb ends on 4, so a glb that does not
// gets 4 spaces more at the end of its JSON chunk, which keeps every chunk on 4 and every
// byte of its binary chunk as it was. A glb whose container does not read is left as it is.
std::string EndingOnEightBytes(std::string_view glb) {
    if (glb.size() % kAlignment == 0)
        return std::string(glb);
    const std::optional<GlbChunks> chunks = SplitGlb(glb);
    if (!chunks || chunks->json.size() % 4 != 0)
        return std::string(glb);
    std::optional<std::string> padded = JoinGlb(std::string(chunks->json) + "    ", chunks->bin);
    return padded ? std::move(*padded) : std::string(glb);
}

} // namespace

std::string B3dmAround(std::string_view glb) {
    std::string featureTable = R"({"BATCH_LENGTH":0})";
    while ((kHeaderBytes + featureTable.size()) % kAlignment != 0)
        featureTable += ' ';
    const std::string inside = EndingOnEightBytes(glb);
    const std::size_t total = kHeaderBytes + featureTable.size() + inside.size();
    std::string b3dm;
    b3dm.reserve(total);
    b3dm += "b3dm";
    AppendUint32Le(b3dm, 1); // version
    AppendUint32Le(b3dm, static_cast<std::uint32_t>(total));
    AppendUint32Le(b3dm, static_cast<std::uint32_t>(featureTable.size()));
    AppendUint32Le(b3dm, 0); // the feature table's binary body
    AppendUint32Le(b3dm, 0); // the batch table's JSON
    AppendUint32Le(b3dm, 0); // and its binary body
    b3dm += featureTable;
    b3dm += inside;
    return b3dm;
}

} // namespace brindle
