#include "storage/peak_shape.h"
#include "storage/stored_shape.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "storage/sqlite/cppsqlite3.h"
#include "storage/sqlite/number_text.h"

namespace {

const char kExampleText[] =
    "10500.000000,301.123400,745.250000,1500,20250.500000,301.123500,745.780000,1501";

std::vector<Data_Point> ExamplePoints() {
  return {{1500, 745.25, 301.1234, 10500.0}, {1501, 745.78, 301.1235, 20250.5}};
}

double CStrtod(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Message(const std::exception& e) { return e.what(); }

TEST(PeakShapeTextTest, FormatsTheExample) {
  std::string text;
  Format_Peak_Shape_Text(ExamplePoints(), text);
  EXPECT_EQ(text, kExampleText);
  std::string empty = "keep";
  Format_Peak_Shape_Text({}, empty);
  EXPECT_EQ(empty, "keep");
}

TEST(PeakShapeTextTest, ParsesFourTokensPerPoint) {
  std::vector<Data_Point> points;
  Parse_Peak_Shape_Text(kExampleText, points);
  EXPECT_EQ(points, ExamplePoints());

  std::vector<Data_Point> trailing;
  Parse_Peak_Shape_Text(std::string(kExampleText) + ",", trailing);
  EXPECT_EQ(trailing, ExamplePoints());

  std::vector<Data_Point> nine;  // the ninth token is ignored even if it is not a number
  Parse_Peak_Shape_Text(std::string(kExampleText) + ",garbage", nine);
  EXPECT_EQ(nine, ExamplePoints());

  std::vector<Data_Point> none;
  Parse_Peak_Shape_Text("", none);
  Parse_Peak_Shape_Text("1,2,3", none);
  Parse_Peak_Shape_Text(",", none);
  EXPECT_TRUE(none.empty());

  std::vector<Data_Point> odd;
  Parse_Peak_Shape_Text("abc,,-1e3, 12.0,x,y,z,-1", odd);
  ASSERT_EQ(odd.size(), 2u);
  EXPECT_EQ(odd[0].Intensity, 0.0);
  EXPECT_EQ(odd[0].MZ, 0.0);
  EXPECT_EQ(odd[0].RT, -1000.0);
  EXPECT_EQ(odd[0].Scan, 12u);
  EXPECT_EQ(odd[1].Scan, 4294967295u);  // a negative text wraps
}

TEST(PeakShapeTextTest, BadScanTokensThrow) {
  std::vector<Data_Point> points;
  try {
    Parse_Peak_Shape_Text("1,2,3,4,5,6,7,,9", points);
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(Message(e), "invalid stoi argument");
  }
  EXPECT_EQ(points.size(), 1u);  // points before the bad one stay
  EXPECT_THROW(Parse_Peak_Shape_Text("1,2,3,abc", points), std::invalid_argument);
  EXPECT_THROW(Parse_Peak_Shape_Text("1,2,3,4294967296", points), std::out_of_range);
}

// A Scan of 2^31 or more (a negative input token wraps) is written as an
// unsigned decimal; what Varnel writes must read back.
TEST(PeakShapeTextTest, EveryWrittenScanReadsBack) {
  std::vector<Data_Point> points;
  Parse_Peak_Shape_Text("1,2,3,-1,1,2,3,2147483648,1,2,3,04294967295", points);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].Scan, 4294967295u);
  EXPECT_EQ(points[1].Scan, 2147483648u);
  EXPECT_EQ(points[2].Scan, 4294967295u);
  std::string written;
  Format_Peak_Shape_Text(points, written);
  EXPECT_EQ(written,
            "1.000000,2.000000,3.000000,4294967295,1.000000,2.000000,3.000000,2147483648,"
            "1.000000,2.000000,3.000000,4294967295");
  std::vector<Data_Point> again;
  Decode_Peak_Shape(Encode_Peak_Shape(written), again);
  EXPECT_EQ(again, points);
  // Beyond 32 bits, or with a sign, the strict reading still decides.
  EXPECT_THROW(Parse_Peak_Shape_Text("1,2,3,4294967296", points), std::out_of_range);
  EXPECT_THROW(Parse_Peak_Shape_Text("1,2,3,+4294967295", points), std::out_of_range);
}

// The format read the plain way: std::getline at commas, strtod, std::stoi.
std::vector<Data_Point> ReferenceParse(const std::string& text) {
  std::vector<std::string> tokens;
  std::istringstream in(text);
  for (std::string token; std::getline(in, token, ',');) tokens.push_back(token);
  std::vector<Data_Point> points;
  for (std::size_t k = 0; 4 * k + 3 < tokens.size(); ++k) {
    Data_Point d;
    d.Intensity = CStrtod(tokens[4 * k]);
    d.MZ = CStrtod(tokens[4 * k + 1]);
    d.RT = CStrtod(tokens[4 * k + 2]);
    d.Scan = static_cast<std::uint32_t>(std::stoi(tokens[4 * k + 3]));
    points.push_back(d);
  }
  return points;
}

TEST(PeakShapeTextTest, LongTextsParseLikeGetlineStrtodAndStoi) {
  const char* odd_tokens[] = {"",
                              "-",
                              ".",
                              "5.",
                              ".5",
                              "-.25",
                              "nan",
                              "inf",
                              "1e5",
                              "+7",
                              " 8",
                              "12abc",
                              "0x1p3",
                              "00000000012",
                              "123456789012345678",
                              "12345678.1234567",
                              "1.123456789",
                              "-0"};
  const char* odd_scans[] = {"0", "007", "123456789", "1234567890", "2147483647", "12.0", "7abc"};
  std::mt19937 rng(9);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int tokens = static_cast<int>(rng() % 60);
    for (int t = 0; t < tokens; ++t) {
      if (t) text += ',';
      char buf[64];
      const bool scan = t % 4 == 3;
      if (rng() % 6 == 0) {
        text += scan ? odd_scans[rng() % std::size(odd_scans)]
                     : odd_tokens[rng() % std::size(odd_tokens)];
      } else if (scan) {
        text += std::to_string(rng() % 100000);
      } else {
        const double v = (static_cast<double>(rng()) - 2147483648.0) /
                         std::pow(10.0, static_cast<double>(rng() % 12));
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng() % 9), v);
        text += buf;
      }
    }
    if (rng() % 5 == 0) text += ',';
    std::vector<Data_Point> expected;
    bool expected_throws = false;
    try {
      expected = ReferenceParse(text);
    } catch (const std::exception&) {
      expected_throws = true;
    }
    std::vector<Data_Point> actual;
    bool actual_throws = false;
    try {
      Parse_Peak_Shape_Text(text, actual);
    } catch (const std::exception&) {
      actual_throws = true;
    }
    ASSERT_EQ(actual_throws, expected_throws) << text;
    if (expected_throws) continue;
    ASSERT_EQ(actual.size(), expected.size()) << text;
    for (std::size_t i = 0; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i].Scan, expected[i].Scan) << text;
      for (auto field : {&Data_Point::Intensity, &Data_Point::MZ, &Data_Point::RT}) {
        const double a = actual[i].*field;
        const double b = expected[i].*field;
        ASSERT_TRUE(SameBits(a, b) || (std::isnan(a) && std::isnan(b))) << text << " @" << i;
      }
    }
  }
}

TEST(PeakShapeStoredFormTest, ShapeTextsUseOffsetOneWithoutEscapes) {
  const std::string stored = Encode_Peak_Shape(kExampleText);
  ASSERT_EQ(stored.size(), std::strlen(kExampleText) + 1);
  EXPECT_EQ(stored[0], '\x01');
  for (std::size_t i = 0; i < std::strlen(kExampleText); ++i) {
    ASSERT_EQ(stored[i + 1], kExampleText[i] - 1);
  }
  EXPECT_EQ(Encode_Peak_Shape(""), "x");
  std::vector<Data_Point> points;
  Decode_Peak_Shape(stored, points);
  EXPECT_EQ(points, ExamplePoints());
  Decode_Peak_Shape("x", points);
  EXPECT_EQ(points.size(), 2u);
}

TEST(PeakShapeStoredFormTest, DecodesLikeTheCodec) {
  // Escapes, a decoded NUL ending the text, and a stored NUL ending the input.
  const std::string raw = std::string("1,2,3,4'\x01") + '\0' + "junk";
  const std::string stored = Encode_Peak_Shape(raw);
  std::string text;
  Decode_Peak_Shape_Text(stored, text);
  EXPECT_EQ(text, "1,2,3,4'\x01");
  Decode_Peak_Shape_Text(Encode_Peak_Shape("1,2,3,4") + std::string(1, '\0') + "\x01\x09", text);
  EXPECT_EQ(text, "1,2,3,4");

  for (const std::string& bad : {std::string("\x05"
                                             "ab\x01\x04"),
                                 std::string("\x05"
                                             "ab\x01")}) {
    try {
      Decode_Peak_Shape_Text(bad, text);
      ADD_FAILURE();
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorCode(), 1000);
      EXPECT_EQ(e.errorDetail(), "Cannot decode binary");
    }
  }
  for (const std::string& empty : {std::string(), std::string(1, '\0')}) {
    try {
      Decode_Peak_Shape_Text(empty, text);
      ADD_FAILURE();
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorDetail(), "Empty Peak_shape text");
    }
  }
}

TEST(PeakShapeStoredFormTest, AgreesWithTheCodecOnRandomTexts) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    std::string raw(rng() % 300 + 1, '\0');
    for (char& c : raw) c = static_cast<char>(rng() % 255 + 1);  // no NUL
    const std::string stored = Encode_Peak_Shape(raw);
    CppSQLite3Binary holder;
    holder.setEncoded(reinterpret_cast<const unsigned char*>(stored.c_str()));
    const int n = holder.getBinaryLength();
    std::string text;
    Decode_Peak_Shape_Text(stored, text);
    ASSERT_EQ(text, std::string(reinterpret_cast<const char*>(holder.getBinary()), n));
    ASSERT_EQ(text, raw);
  }
}

}  // namespace

namespace {

TEST(PeakShapeTextTest, FixedSixRealsAtTheirLimits) {
  // "%f" tokens with nine integer digits and with ten give strtod's value.
  const std::string tokens[] = {"0.000000",         "-0.000000",         "1.000001",
                                "-1.999999",        "123456789.999999",  "-123456789.999999",
                                "999999999.999999", "1000000000.000000", "-9999999999.999999",
                                "00000001.500000",  "4503599627.370497"};
  std::string text = "1.000000,2.000000,3.000000,4";  // room before the tokens under test
  for (const std::string& token : tokens) text += "," + token + "," + token + "," + token + ",5";
  std::vector<Data_Point> points;
  Parse_Peak_Shape_Text(text, points);
  ASSERT_EQ(points.size(), std::size(tokens) + 1);
  for (std::size_t i = 0; i < std::size(tokens); ++i) {
    const double expected = CStrtod(tokens[i]);
    EXPECT_TRUE(SameBits(points[i + 1].Intensity, expected)) << tokens[i];
    EXPECT_TRUE(SameBits(points[i + 1].MZ, expected)) << tokens[i];
    EXPECT_TRUE(SameBits(points[i + 1].RT, expected)) << tokens[i];
    EXPECT_EQ(points[i + 1].Scan, 5u);
  }
}

}  // namespace

// A stored shape passed through as it is must be exactly what decoding,
// formatting and encoding again would store; anything else takes that path.
TEST(WrittenFormTest, PassingThroughEqualsWritingAgain) {
  std::mt19937_64 random(42);
  // Mostly fields in the written form, so that long texts pass too; now and
  // then one that is not.
  const std::vector<std::string> reals = {"0.000000",         "1.500000",         "-2.250000",
                                          "999999999.999999", "123456789.123456", "-1.000001",
                                          "7.000000",         "-0.000001"};
  const std::vector<std::string> odd_reals = {
      "-0.000000", "00.500000", "0.5", "1.1234567", "1000000000.000000", "9999999999.999999", "1e3",
      ".500000",   "5.",        "",    "-",         "12.34a678"};
  const std::vector<std::string> scans = {"0", "1", "17", "4294967295"};
  const std::vector<std::string> odd_scans = {"007", "4294967296", "-1", "99999999999", "", "1.0"};
  auto pick = [&](const std::vector<std::string>& usual, const std::vector<std::string>& odd) {
    const std::vector<std::string>& from = random() % 40 == 0 ? odd : usual;
    return from[random() % from.size()];
  };
  std::vector<Data_Point> scratch;
  int fast = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int points = 1 + static_cast<int>(random() % 8);
    for (int p = 0; p < points; ++p) {
      if (p > 0) text += ',';
      text += pick(reals, odd_reals) + "," + pick(reals, odd_reals) + "," + pick(reals, odd_reals) +
              "," + pick(scans, odd_scans);
    }
    if (random() % 10 == 0) text += ",";
    const std::string stored = Encode_Peak_Shape(text);
    std::string expected;
    bool readable = true;
    try {
      std::vector<Data_Point> parsed;
      Decode_Peak_Shape(stored, parsed);
      std::string again;
      Format_Peak_Shape_Text(parsed, again);
      expected = Encode_Peak_Shape(again);
    } catch (const std::exception&) {
      readable = false;
    }
    SCOPED_TRACE(text);
    if (Is_Written_Form(stored)) {
      ++fast;
      ASSERT_TRUE(readable);
      ASSERT_EQ(stored, expected);
    }
    std::string out;
    if (readable) {
      Written_Form_Of(stored, out, scratch);
      ASSERT_EQ(out, expected);
    } else {
      EXPECT_ANY_THROW(Written_Form_Of(stored, out, scratch));
    }
  }
  EXPECT_GT(fast, 5000);  // the common case is met
  EXPECT_LT(fast, 15000);
}

// The check reads long shapes 64 bytes at a time: every byte of a shape, at
// every place in its 64-byte word and across words, changed to a digit, a
// mark or another byte, is judged as writing the shape again judges it; so
// are shapes beyond the length the word masks hold.
TEST(WrittenFormTest, EveryByteOfLongShapesIsChecked) {
  std::mt19937_64 random(7);
  const std::string replacements = "0123456789,.-+ e\x01";
  std::vector<Data_Point> scratch;
  int fast = 0, slow = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    const int points = trial % 100 == 0 ? 200 + static_cast<int>(random() % 60)
                                        : 1 + static_cast<int>(random() % 70);
    std::string text;
    char field[32];
    for (int p = 0; p < points; ++p) {
      if (p > 0) text += ',';
      for (int r = 0; r < 3; ++r) {
        const unsigned digits = static_cast<unsigned>(random() % 9);  // 0 to 8 before the dot
        std::uint64_t whole = 0;
        for (unsigned d = 0; d < digits; ++d) whole = whole * 10 + random() % 10;
        std::snprintf(field, sizeof field, "%llu.%06u,", static_cast<unsigned long long>(whole),
                      static_cast<unsigned>(random() % 1000000));
        text += field;
      }
      text += std::to_string(random() % 4 == 0 ? 0 : random() % 1000000000);
    }
    if (trial % 3 != 0) {  // one or two bytes changed
      for (int n = 1 + static_cast<int>(random() % 2); n-- > 0;) {
        text[random() % text.size()] = replacements[random() % replacements.size()];
      }
    }
    const std::string stored = Encode_Peak_Shape(text);
    bool written = false;
    try {
      std::vector<Data_Point> parsed;
      Decode_Peak_Shape(stored, parsed);
      std::string again;
      Format_Peak_Shape_Text(parsed, again);
      written = Encode_Peak_Shape(again) == stored;
    } catch (const std::exception&) {
    }
    SCOPED_TRACE(text);
    ASSERT_EQ(Is_Written_Form(stored), written);
    ++(written ? fast : slow);
  }
  EXPECT_GT(fast, 500);
  EXPECT_GT(slow, 500);
}
