#include "retrieval/MessageListing.h"

#include "frame/ErrorTail.h"
#include "frame/EventYield.h"
#include "frame/GeneralDate.h"
#include "frame/StatusLine.h"
#include "frame/VbError.h"
#include "mail/ClsChilkatImap.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/RetrievalView.h"

namespace {
bool contains(const QString& field, const QString& filter, Qt::CaseSensitivity cs = Qt::CaseSensitive)
{
    return !field.isEmpty() && field.contains(filter, cs);
}
} // namespace

MessageListing::MessageListing(Services services, RetrievalView& window, StatusLine& status, MainListModels models,
                               std::function<std::shared_ptr<clsChilkatIMAP>()> current)
    : m_services(services)
    , m_window(window)
    , m_status(status)
    , m_models(models)
    , m_current(std::move(current))
{
}

void MessageListing::bindSession(clsChilkatIMAP& session)
{
    connect(&session, &clsChilkatIMAP::MailExtractListing, this,
            [this](const QString& From, const QString& FromName, const QString& FromAddress, const QString& Subject,
                   const QString& ReceivedDate, const QString& PlainTextBody, const QString& HTMLTextBody,
                   int uID) {
                oChilkat_MailExtractListing(From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody,
                                            HTMLTextBody, uID);
            });
    connect(&session, &clsChilkatIMAP::ScrapProgress, this, [this](int percent) { oChilkat_ScrapProgress(percent); });
    connect(&session, &clsChilkatIMAP::ExtractionStatus, this, [this](const QString& text) { m_status.setProgressText(text); });
}

bool MessageListing::passesFilter(const QString& filter, const QString& From, const QString& FromName,
                                  const QString& FromAddress, const QString& Subject, const QString& ReceivedDate,
                                  const QString& PlainTextBody)
{
    return contains(From, filter) || contains(FromName, filter) || contains(FromAddress, filter)
        || contains(Subject, filter, Qt::CaseInsensitive) || contains(ReceivedDate, filter)
        || contains(PlainTextBody, filter);
}

QString MessageListing::recDate(const QString& receivedDate)
{
    const auto when = GeneralDate::parse(receivedDate);
    if (!when)
        throw VbError::typeMismatch();
    return QString::number(GeneralDate::roundedSerialDay(*when));
}

void MessageListing::oChilkat_MailExtractListing(const QString& From, const QString& FromName,
                                                 const QString& FromAddress, const QString& Subject,
                                                 const QString& ReceivedDate, const QString& PlainTextBody,
                                                 const QString& HTMLTextBody, int /*uID*/)
{
    ErrorTail tail(*m_services.boxes, QStringLiteral("Form1"), QStringLiteral("oChilkat_MailExtractListing"));

    QString filter;
    bool filtered = false;
    tail.line(100, [&] {
        filter = m_window.filterText();
        filtered = !filter.isEmpty();
    });
    bool add = true;
    if (filtered)
        tail.line(102, [&] {
            add = passesFilter(filter, From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody);
        });
    if (add) {
        // The same steps carry one numbering without a filter and another with one.
        const int base = filtered ? 104 : 134;
        MessageListModel* rows = nullptr;
        int k = 0;
        tail.line(base, [&] { rows = &m_models.list; });
        const auto list = [&]() -> MessageListModel& {
            if (!rows)
                throw VbError::objectNotSet();
            return *rows;
        };
        tail.line(base + 2, [&] { k = list().add(From); });
        MailStore& store = m_models.store;
        tail.line(base + 4, [&] { store.set(k, MailStore::From, From); });
        tail.line(base + 6, [&] { store.set(k, MailStore::FromName, FromName); });
        tail.line(base + 8, [&] { store.set(k, MailStore::FromAddress, FromAddress); });
        tail.line(base + 10, [&] { store.set(k, MailStore::Subject, Subject); });
        tail.line(base + 12, [&] { store.set(k, MailStore::ReceivedDate, ReceivedDate); });
        tail.line(base + 14, [&] { store.set(k, MailStore::PlainTextBody, PlainTextBody); });
        tail.line(base + 16, [&] { store.set(k, MailStore::HTMLTextBody, HTMLTextBody); });
        tail.line(base + 18, [&] { list().setSubItem(k, 1, FromName); });
        tail.line(base + 20, [&] { list().setSubItem(k, 2, FromAddress); });
        tail.line(base + 22, [&] { list().setSubItem(k, 3, Subject); });
        tail.line(base + 24, [&] { list().setSubItem(k, 4, ReceivedDate); });
        tail.line(base + 26, [&] { list().setSubItem(k, 5, recDate(ReceivedDate)); });
    }
    tail.line(164, [&] { yieldEvents(); });
}

void MessageListing::oChilkat_ScrapProgress(int percent)
{
    m_status.setProgressMaximum(100);
    m_status.setProgressValue(qBound(0, percent, 100));
    const auto session = m_current();
    const QString current = session ? QString::number(session->CurrentLocation()) : QString();
    const QString last = session ? QString::number(session->MaxRecord()) : QString();
    m_status.setProgressText(QStringLiteral("Reading mail ") + current + QStringLiteral(" of ") + last);
    yieldEvents();
}
