// varnel: the window. Takes no command-line options; returns 0 once the
// window is closed.
#include <QApplication>

#include "ui/widgets/varnel_form.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  {
    Varnel::Varnel_Form form;
    form.show();
    QApplication::exec();
  }  // the window and all its controls are released here, however the loop ended
  return 0;
}
