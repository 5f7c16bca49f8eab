#pragma once

#include <array>

// The layout of the larger list window (Form4) for a given outer size, in twips. The list
// keeps its left and top and stretches with the window; labels and buttons form two
// columns below it, the left one centred on the window's middle less 45 twips. Only the
// list changes size; every other element keeps its width and height.
//
// A window too small for the layout gives the list a width or height of 0, never a
// negative size; positions may then lie outside the window.
class LargerListLayout {
public:
    struct Geometry {
        double left = 0;
        double top = 0;
        double width = 0;
        double height = 0;
    };
    // The window's elements that the layout places.
    struct Elements {
        Geometry ListView1;
        Geometry Label1, Label2;
        Geometry PushButton5, PushButton6;  // "Check All", "Uncheck All"
        Geometry PushButton9, PushButton10; // the two rule checks
        Geometry PushButton7, PushButton1;  // "Clear List", "Maximize This Window"
        Geometry PushButton4;               // "< Back"
    };
    static constexpr int kColumns = 6;
    struct Result {
        Elements elements;
        std::array<int, kColumns> columnWidths{};
    };

    static Elements designed();
    // Column widths when the window is loaded, before the first layout.
    static std::array<int, kColumns> designedColumnWidths();

    // The layout for outer width W and height H; `current` supplies the sizes that do not
    // change (the widths of "Clear List" and of Label1 place the two columns).
    static Result layout(double W, double H, const Elements& current = designed());

    // x rounded to the nearest whole number, halves to the even neighbour.
    static double whole(double x);
    // whole(a) divided by whole(b), the remainder dropped.
    static long long intDiv(double a, double b);
};
