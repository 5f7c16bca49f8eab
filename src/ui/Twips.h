#pragma once

#include <QRect>

// Window elements are designed in twips (1/1440 inch). At 96 DPI 15 twips make one
// device-independent pixel; Qt scales those for the actual screen.
namespace Twips {
constexpr int kPerPixel = 15;

inline int toPx(int twips) { return (twips + (twips >= 0 ? kPerPixel / 2 : -kPerPixel / 2)) / kPerPixel; }
inline int fromPx(int px) { return px * kPerPixel; }
inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPx(left), toPx(top), toPx(width), toPx(height));
}
} // namespace Twips
