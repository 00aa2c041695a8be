// One field of a CSV line, as every CSV file Varnel writes has it.
#ifndef VARNEL_STORAGE_CSV_FIELD_H_
#define VARNEL_STORAGE_CSV_FIELD_H_

#include <string>
#include <string_view>

// Appends text to out as it is, or quoted (RFC 4180: in double quotes, inner
// quotes doubled) when it holds a comma, a double quote or a line break.
inline void Append_Csv_Field(std::string_view text, std::string& out) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

#endif  // VARNEL_STORAGE_CSV_FIELD_H_
