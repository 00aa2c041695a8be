// The terminal progress bar.
#include "tools/progress_bar.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(ProgressBarTest, LineShowsShareAndDetail) {
  EXPECT_EQ(Progress_Bar::Line("reading", 5, 10, "5/10 files", 10),
            "reading [#####.....]  50% 5/10 files");
  EXPECT_EQ(Progress_Bar::Line("w", 0, 0, "", 4), "w [####] 100% ");
  EXPECT_EQ(Progress_Bar::Line("w", 12, 10, "", 4), "w [####] 100% ");
  EXPECT_EQ(Progress_Bar::Line("w", 1, 3, "", 3), "w [#..]  33% ");
}

TEST(ProgressBarTest, DrawsOnlyWhenEnabledAndEndsItsLine) {
  std::ostringstream off;
  {
    Progress_Bar bar(off, false);
    bar.Stage("reading");
    bar.Update(1, 2, "x", true);
    bar.Finish(2, 2, "y");
  }
  EXPECT_EQ(off.str(), "");
  std::ostringstream on;
  {
    Progress_Bar bar(on, true);
    bar.Stage("a");
    bar.Update(1, 2, "long detail", true);
    bar.Update(2, 2, "d", true);  // blanks the rest of the longer line
    bar.Stage("b");
    bar.Update(1, 1, "", true);
  }  // the destructor ends the open line
  const std::string text = on.str();
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("\ra ["), std::string::npos);
  EXPECT_NE(text.find("\n\rb ["), std::string::npos);
  EXPECT_NE(text.find("] 100% d          "), std::string::npos) << text;
}

}  // namespace
