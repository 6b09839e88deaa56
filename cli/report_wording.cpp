#include "cli/report_wording.h"

#include <cstdio>

namespace brindle {
namespace {

std::string Megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

std::string Seconds(std::uint64_t milliseconds) {
    const std::uint64_t tenths = (milliseconds + 99) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10)
        text += "." + std::to_string(tenths % 10);
    return text + " s";
}

std::string WithCause(std::string text, const std::error_code& cause) {
    if (cause)
        text += ": " + DescribeCause(cause);
    return text;
}

// The root file named in a reason: the one found, else root.osgb.
std::string RootName(const LeftOutSubfolder& leftOut) {
    return leftOut.rootFile.empty() ? "root.osgb" : DisplayPath(leftOut.rootFile);
}

} // namespace

std::string DescribeCause(const std::error_code& cause) {
    return cause.message();
}

std::string DisplayPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::string bytes = path.u8string();
#else
    const std::string& bytes = path.native();
#endif
    std::string shown;
    shown.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string DescribeLoadFailure(LoadFailure failure, const std::string& readerText) {
    switch (failure) {
    case LoadFailure::None:
        break;
    case LoadFailure::EmptyFile:
        return "the file is empty";
    case LoadFailure::NotAScene:
        return "not an OpenSceneGraph scene file";
    case LoadFailure::Truncated:
        return "the file is cut short";
    case LoadFailure::UnknownCompressor:
        return "compressed with a method the reader does not have";
    case LoadFailure::UnsupportedVersion:
        return "written by a newer version of the reader";
    case LoadFailure::ReaderError:
        if (!readerText.empty())
            return "the reader says \"" + readerText + "\"";
        break;
    }
    return "the reader gave no reason";
}

std::string DescribeReasonBriefly(TileStatus reason) {
    switch (reason) {
    case TileStatus::Valid:
        return "listed";
    case TileStatus::NoRootFile:
        return "no root file";
    case TileStatus::NotRegularFile:
        return "root file not a regular file";
    case TileStatus::LoadFailed:
        return "failed to load";
    case TileStatus::ReaderCrashed:
        return "crashed the reader";
    case TileStatus::TimedOut:
        return "timed out";
    case TileStatus::OutOfMemory:
        return "out of memory";
    case TileStatus::UnsafeName:
        return "unsafe name";
    case TileStatus::LinksBack:
        return "leading back to the folder";
    case TileStatus::Cycle:
        return "naming itself in a cycle";
    case TileStatus::BlockNotWritten:
        return "block not written";
    }
    return "left out";
}

std::string DescribeLeftOut(const LeftOutSubfolder& leftOut) {
    switch (leftOut.reason) {
    case TileStatus::Valid:
        return "listed";
    case TileStatus::NoRootFile:
        return "no root.osgb or " + DisplayPath(leftOut.name) + ".osgb in it";
    case TileStatus::NotRegularFile:
        return RootName(leftOut) + " is not a regular file";
    case TileStatus::LoadFailed:
        if (leftOut.loadFailure != LoadFailure::None)
            return RootName(leftOut) + " failed to load: " +
                   DescribeLoadFailure(leftOut.loadFailure, leftOut.readerText);
        return WithCause(RootName(leftOut) + " failed to load", leftOut.cause);
    case TileStatus::ReaderCrashed:
        return RootName(leftOut) + " crashed the reader";
    case TileStatus::TimedOut:
        return RootName(leftOut) + " took longer than " + Seconds(leftOut.limit) + " to load";
    case TileStatus::OutOfMemory:
        return RootName(leftOut) + " needed more than " + Megabytes(leftOut.limit) + " to load";
    case TileStatus::UnsafeName:
        return "its name holds a backslash or a control character";
    case TileStatus::LinksBack:
        return "it leads back to the listed folder";
    case TileStatus::Cycle:
        return RootName(leftOut) + " names files to load that lead back to themselves; a "
                                   "viewer would load it without end";
    case TileStatus::BlockNotWritten:
        return "the block's own index was not written";
    }
    return "left out";
}

std::string DescribeProblem(const Problem& problem) {
    const std::string path = DisplayPath(problem.path);
    switch (problem.kind) {
    case ProblemKind::FolderMissing:
        return path + ": folder does not exist";
    case ProblemKind::NotAFolder:
        return path + ": not a folder";
    case ProblemKind::FolderUnreadable:
        return WithCause(path + ": cannot be read", problem.cause);
    case ProblemKind::WriteFailed:
        return WithCause(path + ": cannot be written", problem.cause);
    case ProblemKind::NoIndexWriter:
        return path + ": cannot be written: no .osgb writer plugin is installed";
    case ProblemKind::WorkersUnavailable:
        return WithCause(path + ": the tile-check worker cannot be started", problem.cause);
    case ProblemKind::ExistingHoldsScene:
        return path + ": is a model (scene data), not an index, so it was kept; this looks like "
                      "a tile folder: list its parent folder instead";
    case ProblemKind::ExistingUnreadable:
        return WithCause(path + ": could not be read, so it was kept (use --force to replace it)",
                         problem.cause);
    case ProblemKind::NoTilesKeptIndex:
        return path + ": no subfolder holds a loadable root.osgb; the existing index was kept "
                      "(use --force to replace it)";
    case ProblemKind::ReportUnreadable:
        return WithCause(path + ": cannot be read; translation left unchanged", problem.cause);
    case ProblemKind::ReportNotRegularFile:
        return path + ": not a regular file; translation left unchanged";
    case ProblemKind::ReportNoSecondLine:
        return path + ": has no second line with the origin; translation left unchanged";
    case ProblemKind::ReportNoOrigin:
        return path + ": line 2 holds no origin of the form \"X: <x> Y: <y> Z: <z>\" (no "
                      "capital Y, or no number where X or Y starts); translation left unchanged";
    case ProblemKind::ReportOriginNotFinite:
        return path + ": line 2 gives an X or Y that is infinite or not a number; translation "
                      "left unchanged";
    case ProblemKind::IndexNotFlushed:
        return WithCause(path + ": written, but its folder could not be flushed to disk, so a "
                                "power cut now could lose the new index",
                         problem.cause);
    case ProblemKind::NoTilesFound:
        return path + ": no subfolder holds a root.osgb or <name>.osgb that loads, so no index "
                      "was written (use --force to write an empty one)";
    case ProblemKind::NoTilesLooksLikeTile:
        return path + ": no subfolder holds a tile, and the folder holds .osgb files itself: it "
                      "looks like a tile folder, one level too low; list its parent folder "
                      "instead. No index was written";
    case ProblemKind::NoTilesOneLevelTooHigh:
        return path + ": no subfolder holds a tile, but their subfolders do: the folder is one "
                      "level too high; list the folders inside it instead. No index was written";
    case ProblemKind::MetadataUnreadable:
        return WithCause(path + ": cannot be read; translation left unchanged", problem.cause);
    case ProblemKind::MetadataNotRegularFile:
        return path + ": not a regular file; translation left unchanged";
    case ProblemKind::MetadataTooLarge:
        return path + ": larger than 1 MB, so not a metadata file; translation left unchanged";
    case ProblemKind::MetadataNotXml:
        return path + ": not well-formed XML; translation left unchanged";
    case ProblemKind::MetadataNoOrigin:
        return path + ": has no <SRSOrigin>; translation left unchanged";
    case ProblemKind::MetadataBadOrigin:
        return path + ": <SRSOrigin> is not \"x,y,z\" in finite numbers; translation left "
                      "unchanged";
    }
    return path;
}

std::string DescribeListedTwice(const FolderReport& folder) {
    if (folder.firstListing == folder.folder)
        return DisplayPath(folder.folder) + ": listed twice; exported once";
    return DisplayPath(folder.folder) + ": the same folder as " + DisplayPath(folder.firstListing) +
           ", listed earlier; exported once";
}

std::string DescribeBrokenEntry(const IndexEntryCheck& entry) {
    switch (entry.status) {
    case TileStatus::Valid:
        return "loads";
    case TileStatus::NoRootFile:
        return "names a missing file";
    case TileStatus::NotRegularFile:
        return "names a folder or other file that is not a regular file";
    case TileStatus::LoadFailed:
        if (entry.loadFailure != LoadFailure::None)
            return "failed to load: " + DescribeLoadFailure(entry.loadFailure, entry.readerText);
        return WithCause("failed to load", entry.cause);
    case TileStatus::ReaderCrashed:
        return "crashed the reader";
    case TileStatus::TimedOut:
        return "took longer than " + Seconds(entry.limit) + " to load";
    case TileStatus::OutOfMemory:
        return "needed more than " + Megabytes(entry.limit) + " to load";
    case TileStatus::Cycle:
        return "names files to load that lead back to themselves";
    case TileStatus::UnsafeName:
    case TileStatus::LinksBack:
    case TileStatus::BlockNotWritten:
        break;
    }
    return "broken";
}

std::string DescribeVerifyProblem(const Problem& problem) {
    const std::string path = DisplayPath(problem.path);
    switch (problem.kind) {
    case ProblemKind::ExistingUnreadable:
        if (problem.cause == std::errc::no_such_file_or_directory)
            return path + ": there is no index to check";
        return WithCause(path + ": the index cannot be read", problem.cause);
    case ProblemKind::ExistingHoldsScene:
        return path + ": holds scene data, not an index";
    default:
        return DescribeProblem(problem);
    }
}

} // namespace brindle
