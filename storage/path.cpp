#include "storage/path.h"

std::string Join_Path(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path.push_back(kPathSeparator);
  path.append(name);
  return path;
}

Split_Path_Result Split_Path(std::string_view path) {
  const auto pos = path.rfind(kPathSeparator);
  if (pos == std::string_view::npos) return {std::string("."), std::string(path)};
  return {std::string(path.substr(0, pos)), std::string(path.substr(pos + 1))};
}
