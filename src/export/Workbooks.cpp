#include "export/Workbooks.h"

#include "export/Workbook.h"
#include "frame/VbError.h"

std::shared_ptr<Workbook> Workbooks::add()
{
    m_books.push_back(std::make_shared<Workbook>());
    return m_books.back();
}

std::shared_ptr<Workbook> Workbooks::Item(int index) const
{
    if (index < 1 || index > Count())
        throw VbError::subscriptOutOfRange();
    return m_books[size_t(index - 1)];
}
