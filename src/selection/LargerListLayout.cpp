#include "selection/LargerListLayout.h"

#include <algorithm>
#include <cmath>

LargerListLayout::Elements LargerListLayout::designed() {
    Elements e;
    e.ListView1 = {120, 120, 7800, 1860};
    e.PushButton5 = {120, 2450, 3840, 405};
    e.PushButton6 = {4080, 2450, 3840, 405};
    e.PushButton4 = {120, 3980, 7800, 405};
    e.PushButton7 = {120, 3470, 3840, 405};
    e.PushButton9 = {120, 2960, 3840, 405};
    e.PushButton10 = {4080, 2960, 3840, 405};
    e.Label1 = {120, 2080, 3840, 255};
    e.Label2 = {4080, 2080, 3840, 255};
    e.PushButton1 = {4080, 3470, 3840, 405};
    return e;
}

std::array<int, LargerListLayout::kColumns> LargerListLayout::designedColumnWidths() {
    return {1300, 1600, 1600, 1600, 1600, 0};
}

double LargerListLayout::whole(double x) {
    const double below = std::floor(x);
    const double fraction = x - below;
    if (fraction > 0.5)
        return below + 1;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

long long LargerListLayout::intDiv(double a, double b) {
    return static_cast<long long>(whole(a)) / static_cast<long long>(whole(b));
}

LargerListLayout::Result LargerListLayout::layout(double W, double H, const Elements& current) {
    Result r;
    Elements& e = r.elements;
    e = current;

    // The list and its columns: the first column a sixth of the list, the next four a fifth
    // each, the hidden RecDate column none.
    e.ListView1.width = std::max(0.0, W - 330);
    r.columnWidths[0] = int(intDiv(e.ListView1.width, 6));
    for (int c = 1; c <= 4; ++c)
        r.columnWidths[size_t(c)] = int(intDiv(e.ListView1.width, 5));
    r.columnWidths[5] = 0;
    e.ListView1.height = std::max(0.0, H - 3100);

    // Rows below the list, from the bottom of the window up.
    e.Label1.top = e.Label2.top = H - 2865;
    e.PushButton5.top = e.PushButton6.top = H - 2505;
    e.PushButton9.top = e.PushButton10.top = H - 1995;
    e.PushButton7.top = e.PushButton1.top = H - 1485;
    e.PushButton4.top = H - 975;

    // The two columns.
    e.PushButton7.left = double(intDiv(W, 2) - intDiv(e.PushButton7.width, 2) - 45);
    e.PushButton4.left = e.PushButton7.left;
    e.Label1.left = e.PushButton7.left;
    e.Label2.left = e.Label1.width + e.Label1.left + 120;
    e.PushButton5.left = e.PushButton7.left;
    e.PushButton6.left = e.Label2.left;
    e.PushButton9.left = e.PushButton7.left;
    e.PushButton10.left = e.Label2.left;
    e.PushButton1.left = e.Label2.left;
    return r;
}
