#pragma once

#include "mail/ExtractionGaps.h"

#include <QString>

// The box that follows "Done." when a retrieval could not read every message of its range: how
// many and which (the first few numbers), the reason of the last failure, and where the error log
// is. Empty when there is nothing to say.
class ExtractionReport {
public:
    static constexpr int kNumbersShown = 10;

    static QString text(const ExtractionGaps& gaps, const QString& errorLogPath);
};
