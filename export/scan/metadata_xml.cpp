#include "export/scan/metadata_xml.h"

#include "export/fs/regular_file.h"
#include "export/scan/name_in_any_case.h"
#include "export/text/plain_number.h"

#include <pugixml.hpp>

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// "x,y,z" (or "x,y", for a Z of 0): each a finite number in the "C" locale's form, with
// or without a sign.
std::optional<osg::Vec3d> ParseOrigin(std::string_view text) {
    std::vector<double> values;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::optional<double> value = PlainFiniteNumber(text.substr(0, comma));
        if (!value)
            return std::nullopt;
        values.push_back(*value);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
        if (values.size() == 3)
            return std::nullopt;
    }
    if (values.size() < 2)
        return std::nullopt;
    values.resize(3, 0.0);
    return osg::Vec3d(values[0], values[1], values[2]);
}

} // namespace

MetadataReading ParseMetadataXml(std::string_view bytes) {
    MetadataReading reading;
    if (bytes.size() > kMaxMetadataBytes) {
        reading.problem = ProblemKind::MetadataTooLarge;
        return reading;
    }
    pugi::xml_document document;
    // No entity of a DTD is ever expanded, so a small file cannot grow into a large tree.
    const pugi::xml_parse_result parsed =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node root = document.document_element();
    if (!parsed || !root) {
        reading.problem = ProblemKind::MetadataNotXml;
        return reading;
    }
    reading.srs = std::string(TrimmedSpace(root.child("SRS").child_value()));
    const pugi::xml_node origin = root.child("SRSOrigin");
    if (!origin) {
        reading.problem = ProblemKind::MetadataNoOrigin;
        return reading;
    }
    reading.origin = ParseOrigin(origin.child_value());
    if (!reading.origin)
        reading.problem = ProblemKind::MetadataBadOrigin;
    return reading;
}

MetadataFileReading ReadMetadataXml(const fs::path& file) {
    MetadataFileReading result;
    const auto fail = [&](ProblemKind kind, std::error_code cause = {}) {
        result.reading.problem = kind;
        result.problem = Problem{kind, file, cause};
        return result;
    };
    RegularFile opened;
    const Result<RegularFile::Opened> how = opened.open(file);
    if (!how)
        return fail(ProblemKind::MetadataUnreadable, how.error());
    if (*how == RegularFile::Opened::NotRegular)
        return fail(ProblemKind::MetadataNotRegularFile);
    // One byte more than allowed tells a file that is too large from one that just fits,
    // whatever size the system claimed for it.
    std::string bytes(kMaxMetadataBytes + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const Result<std::size_t> n = opened.read(bytes.data() + got, bytes.size() - got);
        if (!n)
            return fail(ProblemKind::MetadataUnreadable, n.error());
        if (*n == 0)
            break;
        got += *n;
    }
    bytes.resize(got);
    result.reading = ParseMetadataXml(bytes);
    if (result.reading.problem)
        result.problem = Problem{*result.reading.problem, file, {}};
    return result;
}

bool IsDataFolderName(const fs::path& name) {
    const auto& text = name.native();
    static const char data[] = "data";
    if (text.size() != 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto c = text[i];
        if (c != data[i] && c != data[i] - 'a' + 'A')
            return false;
    }
    return true;
}

fs::path MetadataFileFor(const fs::path& folder, bool* caseTwins) {
    const auto found = [&](const fs::path& in) {
        const NameInAnyCase metadata = FindNameInAnyCase(in, kMetadataFileName);
        if (metadata.found() && caseTwins)
            *caseTwins = metadata.caseTwins;
        return metadata.found() ? in / metadata.name : fs::path();
    };
    if (fs::path own = found(folder); !own.empty())
        return own;
    fs::path name = folder.filename();
    fs::path parent = folder.parent_path();
    if (name.empty()) { // "Production/Data/"
        name = parent.filename();
        parent = parent.parent_path();
    }
    if (IsDataFolderName(name))
        return found(parent);
    return {};
}

} // namespace brindle
