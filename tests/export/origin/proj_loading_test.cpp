#include "export/origin/spatial_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace brindle {
namespace {

using Kinds = std::vector<std::pair<std::string, SrsKind>>;

bool LoadedAtRunTime() {
    return std::string(ProjLibraryName()) != "PROJ";
}

// Texts that are an ENU frame, or no CRS at all, and kinds an earlier run found, are told
// without the library; the first text that needs it loads it, and what it told is learnt.
TEST(ProjLoading, TheLibraryIsLoadedAtTheFirstTextThatNeedsIt) {
    if (!LoadedAtRunTime())
        GTEST_SKIP() << "the projection library is linked into this build";
    SpatialReferences references;
    EXPECT_EQ(references.kindOf("ENU:30.52,114.31"), SrsKind::Enu);
    EXPECT_EQ(references.kindOf("  "), SrsKind::Unknown);
    EXPECT_EQ(references.kindOf(std::string(kMaxSrsTextBytes + 1, 'x')), SrsKind::Unknown);
    EXPECT_TRUE(references.same("ENU:30.52,114.31", "ENU: 30.520, 114.3100"));
    EXPECT_TRUE(references.same("", " "));
    references.remember("EPSG:4326", SrsKind::Geographic);
    EXPECT_EQ(references.kindOf("EPSG:4326"), SrsKind::Geographic);
    EXPECT_FALSE(references.loadedLibrary());
    EXPECT_TRUE(references.learnt().empty());

    EXPECT_EQ(references.kindOf("EPSG:4547"), SrsKind::Projected);
    EXPECT_TRUE(references.loadedLibrary());
    EXPECT_EQ(references.kindOf("EPSG:4490"), SrsKind::Geographic);
    EXPECT_EQ(references.kindOf("EPSG:4547"), SrsKind::Projected);
    EXPECT_EQ(references.learnt(),
              (Kinds{{"EPSG:4547", SrsKind::Projected}, {"EPSG:4490", SrsKind::Geographic}}));
    EXPECT_FALSE(references.libraryMissing());
}

// Without the library a CRS cannot be told: no kind is guessed for it, and the loader's word
// names the library. What needs no library is still told.
TEST(ProjLoading, AMissingLibraryIsNamedAndNoKindGuessed) {
    if (!LoadedAtRunTime())
        GTEST_SKIP() << "the projection library is linked into this build";
    SpatialReferences references("libproj-not-installed.so.0");
    EXPECT_EQ(references.identify("ENU:30.52,114.31"), SrsKind::Enu);
    EXPECT_EQ(references.identify(""), SrsKind::Unknown);
    EXPECT_FALSE(references.libraryMissing()) << "not needed yet";
    EXPECT_EQ(references.identify("EPSG:4547"), std::nullopt);
    ASSERT_TRUE(references.libraryMissing());
    EXPECT_NE(references.libraryMissing()->find("libproj-not-installed.so.0"), std::string::npos)
        << *references.libraryMissing();
    EXPECT_EQ(references.library(), "libproj-not-installed.so.0");
    EXPECT_EQ(references.identify("EPSG:4326"), std::nullopt) << "asked again, still missing";
    EXPECT_EQ(references.kindOf("EPSG:4547"), SrsKind::Unknown);
    EXPECT_FALSE(references.loadedLibrary());
    EXPECT_TRUE(references.learnt().empty());
    // Texts are then compared as written.
    EXPECT_TRUE(references.same("EPSG:4547", " EPSG:4547"));
    EXPECT_FALSE(references.same("EPSG:4547", "epsg:4547"));
}

} // namespace
} // namespace brindle
