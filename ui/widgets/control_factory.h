// Small builders shared by the tabs: a control with its fixed name and
// geometry, and the shared layout of the file row along each page's top.
#ifndef VARNEL_UI_WIDGETS_CONTROL_FACTORY_H_
#define VARNEL_UI_WIDGETS_CONTROL_FACTORY_H_

#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QString>

namespace Varnel::Controls {

// Layout of both tabs, pixels. The file row sits along the top of each page;
// the panels start below it.
inline constexpr int kMargin = 8;
inline constexpr int kRowTop = 10;
inline constexpr int kRowHeight = 26;
inline constexpr int kPanelTop = 46;

template <typename W>
W* Make(QWidget* parent, const char* name, const QRect& geometry) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(geometry);
  return widget;
}

inline QLabel* Make_Label(QWidget* parent, const char* name, const char* text,
                          const QRect& geometry) {
  auto* label = Make<QLabel>(parent, name, geometry);
  label->setText(QString::fromUtf8(text));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

inline QLineEdit* Make_Text_Box(QWidget* parent, const char* name, const char* text,
                                const QRect& geometry) {
  auto* box = Make<QLineEdit>(parent, name, geometry);
  box->setText(QString::fromUtf8(text));
  return box;
}

inline QPushButton* Make_Button(QWidget* parent, const char* name, const char* text,
                                const QRect& geometry) {
  auto* button = Make<QPushButton>(parent, name, geometry);
  button->setText(QString::fromUtf8(text));
  return button;
}

// A frame holding one radio group; its buttons are laid out in a row or a
// column so that every caption keeps its natural width.
inline QGroupBox* Make_Radio_Group(QWidget* parent, const char* name, const QRect& geometry,
                                   Qt::Orientation orientation) {
  auto* group = Make<QGroupBox>(parent, name, geometry);
  auto* layout = new QBoxLayout(
      orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, group);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(orientation == Qt::Horizontal ? 6 : 4);
  return group;
}

inline QRadioButton* Make_Radio(QGroupBox* group, const char* name, const char* text,
                                bool checked) {
  auto* radio = new QRadioButton(QString::fromUtf8(text), group);
  radio->setObjectName(QString::fromLatin1(name));
  radio->setChecked(checked);
  group->layout()->addWidget(radio);
  return radio;
}

}  // namespace Varnel::Controls

#endif  // VARNEL_UI_WIDGETS_CONTROL_FACTORY_H_
