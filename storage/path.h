// The one place that joins a folder and a file name and splits a path.
// Folders carry no trailing separator.
#ifndef VARNEL_STORAGE_PATH_H_
#define VARNEL_STORAGE_PATH_H_

#include <string>
#include <string_view>

inline constexpr char kPathSeparator = '/';

// folder + '/' + name, as plain text with no normalisation. An empty folder
// gives "/name" (the file system root), as the join of the root's folder part.
std::string Join_Path(std::string_view folder, std::string_view name);

struct Split_Path_Result {
  std::string folder;  // everything before the last '/': "" at the root, "." when no '/'
  std::string name;    // everything after the last '/', the whole path when none
};
// Splits at the last '/'. "/d/a.db" gives {"/d", "a.db"}; "/a.db" gives
// {"", "a.db"}; "a.db" gives {".", "a.db"}. Join_Path undoes it.
Split_Path_Result Split_Path(std::string_view path);

#endif  // VARNEL_STORAGE_PATH_H_
