#pragma once

#include <QString>

class RangeDialog;

// What the list handlers read and set on the main window beyond the step buttons and the
// status line: the filter txtSearch, the sorting of ListView1 and the range dialog.
class RetrievalView {
public:
    virtual ~RetrievalView() = default;
    virtual QString filterText() const = 0;
    virtual void setListSortingEnabled(bool enabled) = 0;
    virtual RangeDialog& rangeDialog() = 0;
};
