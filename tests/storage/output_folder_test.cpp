// The folder a run writes into: made with its parents, refused with one line
// naming it, and taken away after a failure only when this run made it and
// left it empty.
#include "storage/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(OutputFolderTest, MakesMissingParentsAndDiscardsOnlyWhatItMadeEmpty) {
  TempDir dir;
  const std::string folder = (fs::path(dir.path()) / "a" / "b").string();
  const Output_Folder made(folder);
  ASSERT_TRUE(made.ok()) << made.error();
  EXPECT_TRUE(made.made());
  EXPECT_TRUE(fs::is_directory(folder));
  made.Discard_If_Empty();
  EXPECT_FALSE(fs::exists(folder));

  fs::create_directories(folder);
  const Output_Folder there(folder);  // an existing folder: kept after a failure
  ASSERT_TRUE(there.ok());
  EXPECT_FALSE(there.made());
  there.Discard_If_Empty();
  EXPECT_TRUE(fs::is_directory(folder));

  fs::remove(folder);
  const Output_Folder filled(folder);
  std::ofstream(fs::path(folder) / "kept.csv") << "x\n";
  filled.Discard_If_Empty();  // made here, but no longer empty
  EXPECT_TRUE(fs::exists(fs::path(folder) / "kept.csv"));
}

TEST(OutputFolderTest, AFileInTheWayIsRefusedInOneLineNamingIt) {
  TempDir dir;
  const std::string file = (fs::path(dir.path()) / "Result").string();
  std::ofstream(file) << "not a folder\n";
  const Output_Folder at_file(file, "plan folder");
  EXPECT_FALSE(at_file.ok());
  EXPECT_EQ(at_file.error().rfind(file + ": cannot create the plan folder: ", 0), 0u)
      << at_file.error();
  const Output_Folder below_file(file + "/inner");
  EXPECT_FALSE(below_file.ok());
  EXPECT_EQ(below_file.error().rfind(file + "/inner: cannot create the result folder: ", 0), 0u)
      << below_file.error();
  EXPECT_EQ(below_file.error().find('\n'), std::string::npos);
  at_file.Discard_If_Empty();
  EXPECT_TRUE(fs::is_regular_file(file));
}

}  // namespace
