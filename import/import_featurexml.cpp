// OpenMS featureXML, read with expat as a stream: one file is one sample.
//
// Of each feature directly in <featureList> (subordinate features are
// skipped): <position dim="0"> the retention time (s), <position dim="1">
// the m/z, <intensity>, <charge>, the span of the x values of its
// <convexhull> points (<pt x=".."/> or <hullpoint><hposition dim="0">) as its
// width, and a <UserParam name="adduct" value=".."/> as its adduct. A file
// without <featureList> is refused (it is not a feature map of one sample); a
// feature of intensity 0 is not detected (no feature).
#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "import/import_common.h"

namespace import_detail {

namespace {

// What a feature's child element holds as text.
enum class Text_Target { kNone, kRt, kMz, kIntensity, kCharge, kHullRt };

struct Feature_State {
  std::size_t line = 0;
  std::string id;
  std::optional<double> rt;
  std::optional<double> mz;
  std::optional<double> intensity;
  int charge = 0;
  std::string adduct;
  double hull_low = std::numeric_limits<double>::infinity();
  double hull_high = -std::numeric_limits<double>::infinity();
};

class FeatureXml_Reader {
 public:
  FeatureXml_Reader(const std::string& path, const Import_Options& options, Imported_Sample& sample)
      : path_(path), options_(options), sample_(sample), parser_(XML_ParserCreate(nullptr)) {
    if (parser_ == nullptr) throw Import_Error(path + ": out of memory");
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &Start, &End);
    XML_SetCharacterDataHandler(parser_, &Text);
  }
  ~FeatureXml_Reader() { XML_ParserFree(parser_); }
  FeatureXml_Reader(const FeatureXml_Reader&) = delete;
  FeatureXml_Reader& operator=(const FeatureXml_Reader&) = delete;

  void Read();

 private:
  static void XMLCALL Start(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<FeatureXml_Reader*>(self)->Guard(
        [&](FeatureXml_Reader& r) { r.OnStart(name, attributes); });
  }
  static void XMLCALL End(void* self, const XML_Char* name) {
    static_cast<FeatureXml_Reader*>(self)->Guard([&](FeatureXml_Reader& r) { r.OnEnd(name); });
  }
  static void XMLCALL Text(void* self, const XML_Char* text, int length) {
    auto* r = static_cast<FeatureXml_Reader*>(self);
    if (r->target_ != Text_Target::kNone) r->text_.append(text, static_cast<std::size_t>(length));
  }

  // Runs a handler; an error stops the parser and is thrown by Read().
  template <typename F>
  void Guard(F&& handler) {
    if (error_) return;
    try {
      handler(*this);
    } catch (...) {
      error_ = std::current_exception();
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  std::size_t Line() const { return XML_GetCurrentLineNumber(parser_); }
  [[noreturn]] void Fail(std::size_t line, const std::string& what) const {
    Place{&path_, line}.Fail(what);
  }

  void OnStart(std::string_view name, const XML_Char** attributes);
  void OnEnd(std::string_view name);
  void Finish_Feature_Element();

  static const char* Attribute(const XML_Char** attributes, std::string_view name) {
    for (; attributes[0] != nullptr; attributes += 2) {
      if (name == attributes[0]) return attributes[1];
    }
    return nullptr;
  }

  const std::string& path_;
  const Import_Options& options_;
  Imported_Sample& sample_;
  XML_Parser parser_;
  std::exception_ptr error_;

  int depth_ = 0;
  int list_depth_ = 0;     // depth of <featureList>, 0 outside it
  bool had_list_ = false;  // a <featureList> was met
  int feature_depth_ = 0;  // depth of the feature being read, 0 outside one
  Feature_State feature_;
  Text_Target target_ = Text_Target::kNone;
  std::string text_;
  std::size_t text_line_ = 0;
  std::string element_;  // the element whose text is collected, for messages
};

void FeatureXml_Reader::OnStart(std::string_view name, const XML_Char** attributes) {
  ++depth_;
  if (depth_ == 1) {
    if (name != "featureMap")
      Fail(Line(), "not a featureXML file (the root is <" + Shown(name) + ">)");
    return;
  }
  if (feature_depth_ == 0) {
    if (name == "featureList" && list_depth_ == 0) {
      list_depth_ = depth_;
      had_list_ = true;
    } else if (name == "feature" && list_depth_ != 0 && depth_ == list_depth_ + 1) {
      feature_depth_ = depth_;
      feature_ = Feature_State();
      feature_.line = Line();
      if (const char* id = Attribute(attributes, "id")) feature_.id = id;
    }
    return;
  }
  const int level = depth_ - feature_depth_;  // 1: a child of the feature
  target_ = Text_Target::kNone;
  if (level == 1 && name == "position") {
    const char* dim = Attribute(attributes, "dim");
    if (dim != nullptr && std::string_view(dim) == "0") target_ = Text_Target::kRt;
    if (dim != nullptr && std::string_view(dim) == "1") target_ = Text_Target::kMz;
  } else if (level == 1 && name == "intensity") {
    target_ = Text_Target::kIntensity;
  } else if (level == 1 && name == "charge") {
    target_ = Text_Target::kCharge;
  } else if (level == 1 && (name == "UserParam" || name == "userParam")) {
    const char* param = Attribute(attributes, "name");
    const char* value = Attribute(attributes, "value");
    if (param != nullptr && value != nullptr && std::string_view(param) == "adduct") {
      feature_.adduct = Trim(value);
    }
  } else if (level == 2 && name == "pt") {
    if (const char* x = Attribute(attributes, "x")) {
      Place place{&path_, Line(), "<pt x>"};
      const double value = Required_Number(x, place);
      feature_.hull_low = std::min(feature_.hull_low, value);
      feature_.hull_high = std::max(feature_.hull_high, value);
    }
  } else if (level == 3 && name == "hposition") {
    const char* dim = Attribute(attributes, "dim");
    if (dim != nullptr && std::string_view(dim) == "0") target_ = Text_Target::kHullRt;
  }
  if (target_ != Text_Target::kNone) {
    text_.clear();
    text_line_ = Line();
    element_.assign(1, '<');
    element_.append(name);
    element_.push_back('>');
  }
}

void FeatureXml_Reader::OnEnd(std::string_view name) {
  if (target_ != Text_Target::kNone) {
    const Place place{&path_, text_line_, element_};
    const double value = Required_Number(text_, place);
    switch (target_) {
      case Text_Target::kRt:
        feature_.rt = value;
        break;
      case Text_Target::kMz:
        feature_.mz = value;
        break;
      case Text_Target::kIntensity:
        feature_.intensity = value;
        break;
      case Text_Target::kCharge:
        if (value != std::trunc(value) || std::fabs(value) > 100.0) {
          place.Fail('"' + Shown(text_) + "\" is not a charge");
        }
        feature_.charge = static_cast<int>(value);
        break;
      case Text_Target::kHullRt:
        feature_.hull_low = std::min(feature_.hull_low, value);
        feature_.hull_high = std::max(feature_.hull_high, value);
        break;
      case Text_Target::kNone:
        break;
    }
    target_ = Text_Target::kNone;
  }
  if (depth_ == feature_depth_ && name == "feature") {
    Finish_Feature_Element();
    feature_depth_ = 0;
  } else if (depth_ == list_depth_) {
    list_depth_ = 0;
  }
  --depth_;
}

void FeatureXml_Reader::Finish_Feature_Element() {
  Check_Stop(options_);
  const std::string which =
      feature_.id.empty() ? "a feature" : "feature \"" + Shown(feature_.id) + '"';
  if (!feature_.rt) Fail(feature_.line, which + " has no <position dim=\"0\"> (retention time)");
  if (!feature_.mz) Fail(feature_.line, which + " has no <position dim=\"1\"> (m/z)");
  if (!feature_.intensity) Fail(feature_.line, which + " has no <intensity>");
  if (*feature_.intensity < 0.0) Fail(feature_.line, which + " has a negative <intensity>");
  if (*feature_.intensity == 0.0) {  // not detected
    ++sample_.not_detected;
    return;
  }
  Imported_Feature f;
  f.mz = *feature_.mz;
  f.rt = *feature_.rt;  // featureXML keeps seconds
  f.height = *feature_.intensity;
  if (feature_.hull_high > feature_.hull_low) f.width = feature_.hull_high - feature_.hull_low;
  f.adduct = std::move(feature_.adduct);
  static constexpr Feature_Columns kNames{"<position dim=\"1\">", "<position dim=\"0\">",
                                          "<UserParam name=\"adduct\">"};
  Finish_Feature(f, feature_.charge, options_, false, kNames, Place{&path_, feature_.line});
  sample_.features.push_back(std::move(f));
}

void FeatureXml_Reader::Read() {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path_.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) Place{&path_}.Fail(std::string("cannot open: ") + std::strerror(errno));
  constexpr std::size_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  bool any = false;
  for (;;) {
    std::size_t n = 0;
    for (;;) {  // a stop signal interrupts the read: it goes on, the stop is seen next
      n += std::fread(buffer.get() + n, 1, kChunk - n, file.get());
      if (n == kChunk || !std::ferror(file.get()) || errno != EINTR) break;
      std::clearerr(file.get());
    }
    if (std::ferror(file.get()))
      Place{&path_}.Fail(std::string("cannot read: ") + std::strerror(errno));
    const bool done = n < kChunk;
    for (std::size_t i = 0; i < n && !any; ++i) {
      any = !(buffer[i] == ' ' || buffer[i] == '\n' || buffer[i] == '\r' || buffer[i] == '\t');
    }
    if (done && !any) Place{&path_}.Fail("empty file");
    if (XML_Parse(parser_, buffer.get(), static_cast<int>(n), done) == XML_STATUS_ERROR) {
      if (error_) std::rethrow_exception(error_);
      Place{&path_, XML_GetCurrentLineNumber(parser_)}.Fail(
          std::string("not well-formed XML (column ") +
          std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) +
          "): " + XML_ErrorString(XML_GetErrorCode(parser_)));
    }
    if (done) break;
  }
  if (!had_list_) {
    Place{&path_}.Fail(
        "no <featureList>: not a feature map (a featureXML file holds its "
        "features in one)");
  }
}

}  // namespace

std::vector<Imported_Sample> Read_FeatureXml(const std::string& path,
                                             const Import_Options& options) {
  // One file is one sample, named after the file.
  Sample_Set samples;
  FeatureXml_Reader(path, options, samples.Get(Stem(path), Place{&path})).Read();
  return samples.Take();
}

}  // namespace import_detail
