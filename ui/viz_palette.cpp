#include "ui/viz_palette.h"

#include <cmath>
#include <cstdlib>

namespace Varnel {

namespace {
constexpr double kOneThird = 0.3333333333333333;
constexpr double kLevelBias = 0.15;  // keeps exact cubes (8, 27, 64 ...) from rounding down
constexpr int kGreyDistance = 3;     // channel difference below which a colour counts as grey
}  // namespace

void Fill_Color_Vect(int Color_NUM, QColor* Color_Array) {
  if (Color_NUM <= 0) return;  // n would be 0 and the step a division by zero
  const int n = static_cast<int>(std::floor(std::pow(Color_NUM, kOneThird) + kLevelBias));
  const int step = 255 / n;
  int written = 0;
  for (int i = 0; i <= n; ++i) {
    const int red = i * step;
    for (int j = 0; j <= n; ++j) {
      const int blue = 255 - j * step;
      for (int k = 0; k <= n; ++k) {
        const int green = k * step;
        if (std::abs(red - green) < kGreyDistance && std::abs(red - blue) < kGreyDistance) continue;
        Color_Array[written++] = QColor(red, green, blue);
        if (written == Color_NUM) return;
      }
    }
  }
}

std::vector<QColor> Make_Palette(int Color_NUM) {
  std::vector<QColor> palette(Color_NUM > 0 ? static_cast<std::size_t>(Color_NUM) : 0);
  Fill_Color_Vect(Color_NUM, palette.data());
  return palette;
}

}  // namespace Varnel
