// The number texts of the stored and written forms: strict integers, lenient
// reals, "%f" and "%g" written by hand, each against the C library's or
// SQLite's own.
#include "storage/sqlite/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace {

double CStrtod(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Message(const std::exception& e) { return e.what(); }

TEST(StrictIntTest, AcceptedTexts) {
  const std::pair<const char*, int> accepted[] = {
      {"0", 0},
      {"12", 12},
      {"-5", -5},
      {" -5", -5},
      {"\t\n\v\f\r +7", 7},
      {"12.0", 12},
      {"7abc", 7},
      {"007", 7},
      {"-0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<int>::min()},
      {"1e5", 1},
      {"42 ", 42},
  };
  for (const auto& [text, value] : accepted) {
    EXPECT_EQ(Strict_Int(text), value) << text;
    EXPECT_EQ(Strict_Int(text), std::stoi(text)) << text;
  }
}

TEST(StrictIntTest, RejectedTexts) {
  for (const char* text : {"", " ", "abc", "-", "+", "+-5", "- 5", ".5", "x1",
                           "\xc2\xa0"
                           "5"}) {
    try {
      Strict_Int(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(Message(e), "invalid stoi argument") << text;
    }
    EXPECT_THROW((void)std::stoi(text), std::invalid_argument) << text;
  }
  for (const char* text :
       {"2147483648", "-2147483649", "4294967295", "99999999999", "99999999999999999999999999"}) {
    try {
      Strict_Int(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::out_of_range& e) {
      EXPECT_EQ(Message(e), "stoi argument out of range") << text;
    }
    EXPECT_THROW((void)std::stoi(text), std::out_of_range) << text;
  }
}

TEST(LenientRealTest, AgreesWithCStrtod) {
  const char* texts[] = {"301.123457",
                         "0.5e-7",
                         "5e-8",
                         "1e15",
                         "-0.000000",
                         "nan",
                         "-nan",
                         "NaN(12)",
                         "inf",
                         "-inf",
                         "Infinity",
                         "abc",
                         "",
                         " 12.5",
                         "+3",
                         "0x1p3",
                         "1e400",
                         "-1e400",
                         "1e-400",
                         "4.9e-324",
                         "2.2250738585072011e-308",
                         "12abc",
                         "1.",
                         ".5",
                         "1e",
                         "1e+",
                         "-",
                         "nanx",
                         "7,5",
                         "123456789012345678901234567890.5",
                         "0.30000000000000004"};
  for (const char* text : texts) {
    const double expected = CStrtod(text);
    const double actual = Lenient_Real(text);
    EXPECT_TRUE(SameBits(actual, expected) || (std::isnan(actual) && std::isnan(expected)))
        << "'" << text << "': " << actual << " vs " << expected;
  }
  EXPECT_EQ(Lenient_Real("abc"), 0.0);
  EXPECT_EQ(Lenient_Real("12abc"), 12.0);
}

TEST(LenientRealTest, RandomDecimalsAgreeBitForBit) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  char buf[64];
  for (int i = 0; i < 200000; ++i) {
    const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    std::snprintf(buf, sizeof buf, i % 3 == 0 ? "%f" : i % 3 == 1 ? "%.17g" : "%.6e", v);
    ASSERT_TRUE(SameBits(Lenient_Real(buf), CStrtod(buf))) << buf;
  }
}

TEST(LenientRealTest, ProcessLocaleDoesNotMatter) {
  const char* previous = setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") && !setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  EXPECT_EQ(Lenient_Real("1.5"), 1.5);
  EXPECT_EQ(Lenient_Real(" 1.5"), 1.5);
  setlocale(LC_ALL, saved.c_str());
}

TEST(FixedSixTest, MatchesPrintf) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-9, 16);
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5e-7,
                                5e-7,
                                1e15,
                                301.1234567,
                                2.5e-6,
                                1e300,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  for (int i = 0; i < 300000; ++i) values.push_back(mantissa(rng) * std::pow(10.0, exponent(rng)));
  for (int i = 0; i < 20000; ++i) values.push_back((2 * i + 1) / 128.0 + (i % 7) * 1e6);  // ties
  char buf[400];
  for (double v : values) {
    std::snprintf(buf, sizeof buf, "%f", v);
    std::string out;
    Append_Fixed6(v, out);
    ASSERT_EQ(out, buf);
  }
}

// The CSV's "%g": every bit pattern class, and the places where the six
// digits are decided: ties and near-ties of the seventh digit, carries into
// a new power of ten, the switch to the exponent form at 1e-4 and 1e6, and
// the ends of the double range.
TEST(GeneralSixTest, MatchesPrintf) {
  std::mt19937_64 rng(6);
  std::vector<double> values = {0.0,
                                -0.0,
                                1e-4,
                                9.999995e-5,
                                999999.5,
                                999999.4999999,
                                1e6,
                                123456.5,
                                2.5,
                                0.5,
                                1e27,
                                1e-17,
                                1e-18,
                                5e-324,
                                1e308,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  for (int i = 0; i < 200000; ++i) {  // any bits
    const std::uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  for (int e = -20; e <= 30; ++e) {
    for (int i = 0; i < 2000; ++i) {
      // Seven significant digits m, and m with a last digit of 5, at 10^e.
      const double m = 1000000 + static_cast<double>(rng() % 9000000);
      const double unit = std::pow(10.0, e - 6);
      const double seven = m * unit;
      const double tie = (std::floor(m / 10) * 10 + 5) * unit;
      for (double v : {seven, tie, 9999995 * unit}) {
        values.push_back(v);
        values.push_back(-std::nextafter(v, 0.0));
        values.push_back(std::nextafter(v, 2 * v));
      }
    }
  }
  for (int i = 0; i < 200000; ++i) {  // decimals as the peaks hold them
    values.push_back(static_cast<double>(rng() % 1000000000) / std::pow(10.0, rng() % 10));
  }
  char buf[kMaxGeneral6Chars];
  char expected[64];
  for (double v : values) {
    std::snprintf(expected, sizeof expected, "%g", v);
    ASSERT_EQ(std::string(buf, Write_General6(v, buf)), expected) << v;
  }
}

TEST(FixedSixTest, SqliteFormMatchesSqlite) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-10, 14);
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5e-7,
                                5e-7,
                                -1e-9,
                                1e15,
                                301.1234567,
                                999999.9999995,
                                999999999.9999995,
                                1e9,
                                12345678901.123456,
                                1e300,
                                -1e300,
                                1.0 / 128,
                                3.0 / 128,
                                4.9e-324,
                                -4.9e-324};
  for (int i = 0; i < 1000000; ++i) {
    values.push_back(mantissa(rng) * std::pow(10.0, exponent(rng)));
  }
  for (int i = 0; i < 200000; ++i) {  // at and next to ties of the sixth decimal
    const double tie = (static_cast<double>(rng() % 2000000000) + 0.5) / 1e6;
    values.push_back(tie);
    values.push_back(std::nextafter(tie, 0.0));
    values.push_back(-std::nextafter(tie, 1e18));
    values.push_back((2 * static_cast<double>(rng() % 100000000) + 1) / 128);
  }
  char expected[400];
  char actual[kMaxFixed6Chars];
  for (double v : values) {
    sqlite3_snprintf(sizeof expected, expected, "%f", v);
    *Write_Sqlite_Fixed6(v, actual) = '\0';
    ASSERT_STREQ(actual, expected) << v;
  }
}

// The conversion of a "%f" text follows the library to the last bit, and
// with the libraries whose conversion it knows, without asking them.
TEST(SqliteDecimalRealTest, EqualsTheLibrarysConversion) {
  if (sqlite3_libversion_number() < 3043000) {
    EXPECT_TRUE(Sqlite_Decimal_Real_Is_Own());
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* cast = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select cast(?1 as real)", -1, &cast, nullptr), SQLITE_OK);
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"0.000000",
                                    "-0.000000",
                                    "1.000000",
                                    "-1.5",
                                    "0.1",
                                    "9223372036854775807.000000",
                                    "123456789012345678901234.5",
                                    "0.000000000000000000000000000123"};
  const std::size_t kFixedTexts = texts.size();
  std::vector<double> values = {-0.0, 0.0, -1e-9, 1e-7, 0.5e-6, 999999999.9999995, 1e300};
  for (int i = 0; i < 200000; ++i) {
    const double v =
        std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 140) - 90);
    values.push_back(i % 2 ? -v : v);
  }
  char buf[kMaxFixed6Chars];
  for (const double v : values) texts.emplace_back(buf, Write_Sqlite_Fixed6(v, buf));
  int differ = 0;
  std::size_t i = 0;
  for (const std::string& t : texts) {
    sqlite3_bind_text(cast, 1, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(cast), SQLITE_ROW);
    const double library = sqlite3_column_double(cast, 0);
    const double ours = Sqlite_Decimal_Real(t);
    if (std::memcmp(&library, &ours, sizeof ours) != 0 && ++differ < 5) {
      ADD_FAILURE() << t << ": " << library << " against " << ours;
    }
    // From the value itself, where the text was made from one.
    if (i >= kFixedTexts) {
      const double direct = Sqlite_Fixed6_Real(values[i - kFixedTexts]);
      if (std::memcmp(&library, &direct, sizeof direct) != 0 && ++differ < 5) {
        ADD_FAILURE() << t << ": " << library << " against " << direct << " from the value";
      }
    }
    ++i;
    sqlite3_reset(cast);
  }
  sqlite3_finalize(cast);
  sqlite3_close(db);
}

}  // namespace
