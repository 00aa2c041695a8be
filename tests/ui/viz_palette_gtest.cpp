// The charts' palette: its first colours, where its step changes, and that
// it writes exactly the count asked for and never a grey.
#include "ui/viz_palette.h"

#include <gtest/gtest.h>

#include <QColor>
#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

namespace Varnel {
namespace {

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

// ---- Palette ----

TEST(PaletteTest, FirstPalettes) {
  EXPECT_EQ(Make_Palette(1), std::vector<QColor>{Rgb(0, 0, 255)});
  EXPECT_EQ(Make_Palette(3),
            (std::vector<QColor>{Rgb(0, 0, 255), Rgb(0, 255, 255), Rgb(0, 255, 0)}));
  EXPECT_EQ(Make_Palette(6),
            (std::vector<QColor>{Rgb(0, 0, 255), Rgb(0, 255, 255), Rgb(0, 255, 0), Rgb(255, 0, 255),
                                 Rgb(255, 0, 0), Rgb(255, 255, 0)}));
  const auto seven = Make_Palette(7);
  ASSERT_EQ(seven.size(), 7u);
  EXPECT_EQ(seven[0], Rgb(0, 0, 255));
  EXPECT_EQ(seven[1], Rgb(0, 127, 255));
  EXPECT_EQ(seven[2], Rgb(0, 254, 255));
  EXPECT_EQ(seven[3], Rgb(0, 0, 128));
}

TEST(PaletteTest, LevelsChangeAtSevenTwentyFourAndFiftyEight) {
  // Entry 1 is (0, step, 255): it shows the step in use.
  const std::array<std::pair<int, int>, 6> size_step = {
      {{6, 255}, {7, 127}, {23, 127}, {24, 85}, {57, 85}, {58, 63}}};
  for (auto [size, step] : size_step) {
    const auto palette = Make_Palette(size);
    ASSERT_EQ(palette.size(), static_cast<std::size_t>(size));
    EXPECT_EQ(palette[1], Rgb(0, step, 255)) << size << " colours";
  }
}

TEST(PaletteTest, WritesExactlyTheCountAndNoGreys) {
  for (int size : {0, 1, 2, 5, 7, 23, 24, 57, 58, 200, 1000}) {
    std::vector<QColor> buffer(static_cast<std::size_t>(size) + 1, Rgb(1, 2, 3));
    Fill_Color_Vect(size, buffer.data());
    EXPECT_EQ(buffer.back(), Rgb(1, 2, 3)) << size << ": wrote past the count";
    for (int i = 0; i < size; ++i) {
      const QColor& c = buffer[static_cast<std::size_t>(i)];
      EXPECT_NE(c, Rgb(1, 2, 3)) << size << ": entry " << i << " not written";
      EXPECT_FALSE(std::abs(c.red() - c.green()) < 3 && std::abs(c.red() - c.blue()) < 3)
          << size << ": grey at " << i;
      EXPECT_EQ(c.alpha(), 255);
    }
  }
  EXPECT_TRUE(Make_Palette(-4).empty());
}

}  // namespace
}  // namespace Varnel
