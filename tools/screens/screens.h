// What the picture programs (screens_*.cpp) share: the output folder from
// the command line, a simulated study in a temporary folder, and saving a
// widget as PNG with the path printed.
#ifndef VARNEL_TOOLS_SCREENS_SCREENS_H_
#define VARNEL_TOOLS_SCREENS_SCREENS_H_

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "tests/support/test_files.h"

namespace Varnel::Test {

class Screens {
 public:
  // program: named in the messages; argv[1], when given, is the output folder.
  Screens(const char* program, int argc, char* argv[])
      : program_(program), out_(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath()) {}

  // Creates the output folder and simulates a study of `samples` samples
  // into a temporary folder. False (with a message) on failure.
  bool Prepare(std::uint32_t samples, std::uint32_t compounds, std::uint64_t seed) {
    if (!QDir().mkpath(out_.path())) return Fail("cannot create " + out_.path().toStdString());
    try {
      study_ = Make_Study(folder_.path(), samples, compounds, seed);
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
    return true;
  }

  // Saves the widget as out/name after pending events; false on failure.
  bool Save(QWidget* widget, const char* name) {
    QApplication::processEvents();
    const QString path = out_.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path)) return Fail("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
    return true;
  }

  // The full path of out/name.
  QString Path(const char* name) const { return out_.filePath(QString::fromLatin1(name)); }

  bool Fail(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\n", program_, what.c_str());
    return false;
  }

  const std::string& folder() const { return folder_.path(); }
  const Simulation_Result& study() const { return study_; }

 private:
  const char* program_;
  QDir out_;
  Temp_Folder folder_;
  Simulation_Result study_;
};

}  // namespace Varnel::Test

#endif  // VARNEL_TOOLS_SCREENS_SCREENS_H_
