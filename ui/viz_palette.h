// The colours of the visualization charts.
#ifndef VARNEL_UI_VIZ_PALETTE_H_
#define VARNEL_UI_VIZ_PALETTE_H_

#include <QColor>
#include <vector>

namespace Varnel {

// Writes Color_NUM opaque colours to Color_Array[0 .. Color_NUM-1]: n levels
// per channel with n = floor(Color_NUM^(1/3) + 0.15), step = floor(255 / n),
// red rising (outer), blue falling (middle), green rising (inner), greys
// (red within 3 of both green and blue) skipped. Color_NUM <= 0 writes nothing.
// REQUIRES: Color_Array holds at least Color_NUM entries.
void Fill_Color_Vect(int Color_NUM, QColor* Color_Array);

// The same palette as a vector of Color_NUM colours (empty for Color_NUM <= 0).
std::vector<QColor> Make_Palette(int Color_NUM);

}  // namespace Varnel

#endif  // VARNEL_UI_VIZ_PALETTE_H_
