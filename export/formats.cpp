#include "export/formats.h"

const Export_Format_Info& Format_Info(Export_Format format) {
  for (const Export_Format_Info& info : kExportFormats) {
    if (info.format == format) return info;
  }
  return kExportFormats[0];  // not reached: every format has a row
}

std::optional<Export_Format> Parse_Export_Format(std::string_view text) {
  for (const Export_Format_Info& info : kExportFormats) {
    if (text == info.name) return info.format;
  }
  return std::nullopt;
}

std::string Export_File_Filter(const Export_Format_Info& info) {
  return std::string(info.caption) + " (" + info.file_pattern + ")";
}

std::string Sample_Sheet_Needed(const Export_Format_Info& info, std::string_view what) {
  return std::string("a ") + info.caption + " needs " + std::string(what);
}
