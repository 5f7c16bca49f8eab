#include "retrieval/ExtractionReport.h"

#include <QStringList>

QString ExtractionReport::text(const ExtractionGaps& gaps, const QString& errorLogPath)
{
    if (gaps.empty())
        return QString();
    QStringList paragraphs;
    const qsizetype count = gaps.unread.size();
    if (count > 0) {
        QStringList numbers;
        for (qsizetype k = 0; k < count && k < kNumbersShown; ++k)
            numbers.append(QString::number(gaps.unread.at(k)));
        QString list = numbers.join(QStringLiteral(", "));
        if (count > kNumbersShown)
            list += QStringLiteral(" and %1 more").arg(count - kNumbersShown);
        paragraphs.append(
            count == 1 ? QStringLiteral("1 message could not be read: number %1.").arg(list)
                       : QStringLiteral("%1 messages could not be read: numbers %2.").arg(count).arg(list));
        if (!gaps.lastReason.isEmpty())
            paragraphs.append(QStringLiteral("Last failure: ") + gaps.lastReason);
    }
    if (gaps.countChanged()) {
        paragraphs.append(
            QStringLiteral("The folder's message count changed from %1 to %2 while reconnecting: the "
                           "numbers may have moved, so messages may be missing or listed twice.")
                .arg(gaps.countBefore)
                .arg(gaps.countAfter));
    }
    paragraphs.append(QStringLiteral("Details are in the error log: ") + errorLogPath);
    return paragraphs.join(QStringLiteral("\r\n\r\n"));
}
