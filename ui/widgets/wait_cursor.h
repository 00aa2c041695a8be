// The wait cursor for the lifetime of an object, restored on every path.
#ifndef VARNEL_UI_WIDGETS_WAIT_CURSOR_H_
#define VARNEL_UI_WIDGETS_WAIT_CURSOR_H_

#include <QApplication>

namespace Varnel {

class Wait_Cursor {
 public:
  Wait_Cursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~Wait_Cursor() { QApplication::restoreOverrideCursor(); }
  Wait_Cursor(const Wait_Cursor&) = delete;
  Wait_Cursor& operator=(const Wait_Cursor&) = delete;
};

}  // namespace Varnel

#endif  // VARNEL_UI_WIDGETS_WAIT_CURSOR_H_
