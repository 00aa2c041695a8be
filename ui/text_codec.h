// The one boundary where window text becomes engine text and back.
//
// The engine works on 8-bit strings in the system's 8-bit encoding (UTF-8 on
// Linux); the window works on QString. Every folder or file name handed to the
// engine and every text coming back from it (SAMPLE_NAME, Adduct_Annotation)
// goes through these two functions.
#ifndef VARNEL_UI_TEXT_CODEC_H_
#define VARNEL_UI_TEXT_CODEC_H_

#include <QString>
#include <string>
#include <string_view>

namespace Varnel {

// Window text as an engine string (QString::toLocal8Bit). A character the
// encoding cannot represent becomes the encoding's replacement character.
std::string To_Engine_String(const QString& text);

// Engine string as window text (QString::fromLocal8Bit). Invalid byte
// sequences become U+FFFD; the call never fails.
QString From_Engine_String(std::string_view text);

}  // namespace Varnel

#endif  // VARNEL_UI_TEXT_CODEC_H_
