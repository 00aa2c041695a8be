// The folder a run writes into (a result folder, a plan folder), made when
// missing, and taken away again when the run that made it fails.
#ifndef VARNEL_STORAGE_OUTPUT_FOLDER_H_
#define VARNEL_STORAGE_OUTPUT_FOLDER_H_

#include <string>

class Output_Folder {
 public:
  // Creates folder and its missing parents unless it exists. ok() tells
  // whether it is a folder now; error() says why not, in one line
  // "<folder>: cannot create the <what>: <reason>". Never throws.
  Output_Folder(std::string folder, const char* what = "result folder");
  Output_Folder(const Output_Folder&) = delete;
  Output_Folder& operator=(const Output_Folder&) = delete;

  bool ok() const { return error_.empty(); }
  bool made() const { return made_; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return folder_; }
  // After a failure: removes the folder when this object made it and it is
  // still empty, so that a failed run leaves nothing behind.
  void Discard_If_Empty() const;

 private:
  std::string folder_;
  bool made_ = false;
  std::string error_;
};

#endif  // VARNEL_STORAGE_OUTPUT_FOLDER_H_
