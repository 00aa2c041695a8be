#include "ui/text_codec.h"

#include <QByteArray>

namespace Varnel {

std::string To_Engine_String(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString From_Engine_String(std::string_view text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace Varnel
