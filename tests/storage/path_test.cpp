// Joining a folder and a file name, and splitting a path at its last
// separator.
#include "storage/path.h"

#include <gtest/gtest.h>

namespace {

TEST(PathTest, JoinAndSplitAreInverse) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  } cases[] = {
      {"/data/study/QC_01.db", "/data/study", "QC_01.db"},
      {"/a.db", "", "a.db"},
      {"/d/with space/it's, ü.db", "/d/with space", "it's, ü.db"},
      {"/d/", "/d", ""},
  };
  for (const auto& c : cases) {
    const auto s = Split_Path(c.path);
    EXPECT_EQ(s.folder, c.folder) << c.path;
    EXPECT_EQ(s.name, c.name) << c.path;
    EXPECT_EQ(Join_Path(s.folder, s.name), c.path);
  }
  const auto bare = Split_Path("run7.db");
  EXPECT_EQ(bare.folder, ".");
  EXPECT_EQ(Join_Path(bare.folder, bare.name), "./run7.db");
}

}  // namespace
