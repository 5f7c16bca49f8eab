#include "retrieval/MailStore.h"

#include "frame/VbError.h"

void MailStore::recreate(long long n)
{
    std::vector<MailRecord>().swap(m_records);
    if (n > 0)
        m_records.resize(size_t(n));
}

MailRecord& MailStore::at(int k)
{
    if (!contains(k))
        throw VbError::subscriptOutOfRange();
    return m_records[size_t(k - 1)];
}

const MailRecord& MailStore::at(int k) const
{
    if (!contains(k))
        throw VbError::subscriptOutOfRange();
    return m_records[size_t(k - 1)];
}
