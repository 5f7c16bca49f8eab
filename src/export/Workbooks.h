#pragma once

#include <memory>
#include <vector>

class Workbook;

// The workbooks of an application object.
class Workbooks {
public:
    // A new, empty workbook with its active worksheet.
    std::shared_ptr<Workbook> add();

    int Count() const { return int(m_books.size()); }
    std::shared_ptr<Workbook> Item(int index) const;  // 1-based; raises 9 outside 1..Count

private:
    std::vector<std::shared_ptr<Workbook>> m_books;
};
