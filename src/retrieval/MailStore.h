#pragma once

#include "retrieval/MailRecord.h"

#include <vector>

// The application-wide array of message records, positions 1 to N. Each retrieval recreates
// it just before reading; the record at position k belongs to row k of the main list.
// An access outside 1..N raises subscript out of range (9).
class MailStore {
public:
    void recreate(long long n);  // positions 1..n, every field empty; n <= 0 gives none
    int size() const { return int(m_records.size()); }
    bool contains(int k) const { return k >= 1 && k <= size(); }

    MailRecord& at(int k);
    const MailRecord& at(int k) const;

private:
    std::vector<MailRecord> m_records;
};
