// Rows read ahead arrive whole and in order, failures at their row, and an
// abandoned reader stops.
#include "run/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Name(std::size_t i) {
  std::string name = "a";
  name += std::to_string(i);
  return name;
}

// Row i: Peak_ID i, annotation and shape naming i; throws at row fail_at.
Aligned_Row_Source Numbered(std::size_t fail_at, std::atomic<std::size_t>& asked) {
  auto record = std::make_shared<Chromatogram_Peak_Group_Compound_Align>();
  auto shape = std::make_shared<std::string>();
  return [=, &asked](std::size_t i, bool with_shape) -> Aligned_Row {
    ++asked;
    if (i == fail_at) throw std::runtime_error("row " + std::to_string(i));
    record->Peak_ID = static_cast<std::uint32_t>(i);
    record->Adduct_Annotation = Name(i);
    *shape = with_shape ? std::string(i % 3000, 'x') + std::to_string(i) : std::string();
    return {record.get(), *shape};
  };
}

TEST(ReadAheadTest, RowsInOrderAndFailuresAtTheirRow) {
  constexpr std::size_t kRows = 5000;  // several batches and a partial one
  std::atomic<std::size_t> asked{0};
  {
    Aligned_Row_Source rows =
        Read_Ahead([&] { return Numbered(kRows, asked); }, kRows, true, 1, 3)[0];
    for (std::size_t i = 0; i < kRows; ++i) {
      const Aligned_Row row = rows(i, true);
      ASSERT_EQ(row.record->Peak_ID, i);
      ASSERT_EQ(row.record->Adduct_Annotation, Name(i));
      ASSERT_EQ(row.written_shape, std::string(i % 3000, 'x') + std::to_string(i));
    }
    EXPECT_THROW(rows(0, true), std::logic_error);  // out of order
  }
  EXPECT_EQ(asked, kRows);

  Aligned_Row_Source failing =
      Read_Ahead([&] { return Numbered(2500, asked); }, kRows, true, 1, 3)[0];
  for (std::size_t i = 0; i < 2500; ++i) ASSERT_EQ(failing(i, true).record->Peak_ID, i);
  EXPECT_THROW(failing(2500, true), std::runtime_error);
}

TEST(ReadAheadTest, AbandonedReaderStopsWithoutReadingEverything) {
  std::atomic<std::size_t> asked{0};
  {
    Aligned_Row_Source rows =
        Read_Ahead([&] { return Numbered(SIZE_MAX, asked); }, 1000000, false, 1, 2)[0];
    EXPECT_EQ(rows(0, false).record->Peak_ID, 0u);
    EXPECT_THROW(rows(1, true), std::logic_error);  // shapes were not read
  }
  EXPECT_LT(asked, 1000000u);
}

TEST(ReadAheadTest, TakersShareOneReadAndAGoneTakerHoldsNoOneUp) {
  constexpr std::size_t kRows = 20000;  // well over what is read ahead
  std::atomic<std::size_t> asked{0};
  std::vector<Aligned_Row_Source> takers =
      Read_Ahead([&] { return Numbered(SIZE_MAX, asked); }, kRows, true, 3, 4);
  EXPECT_EQ(takers[0](0, true).record->Peak_ID, 0u);
  takers[0] = nullptr;  // gone after one row
  std::thread other([&] {
    for (std::size_t i = 0; i < kRows; ++i) ASSERT_EQ(takers[1](i, false).record->Peak_ID, i);
  });
  for (std::size_t i = 0; i < kRows; ++i) {
    ASSERT_EQ(takers[2](i, true).written_shape, std::string(i % 3000, 'x') + std::to_string(i));
  }
  other.join();
  EXPECT_EQ(asked, kRows);  // each row read once
}

}  // namespace
