#pragma once

#include "frame/Services.h"
#include "retrieval/MainListModels.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class RetrievalView;
class StatusLine;
class clsChilkatIMAP;

// Turns the session's events into list rows, stored records and progress.
class MessageListing : public QObject {
    Q_OBJECT
public:
    // `current` gives the window's current session, whose position the progress shows.
    MessageListing(Services services, RetrievalView& window, StatusLine& status, MainListModels models,
                   std::function<std::shared_ptr<clsChilkatIMAP>()> current);

    // Routes a session's MailExtractListing and ScrapProgress events to the handlers below.
    void bindSession(clsChilkatIMAP& session);

    void oChilkat_MailExtractListing(const QString& From, const QString& FromName, const QString& FromAddress,
                                     const QString& Subject, const QString& ReceivedDate,
                                     const QString& PlainTextBody, const QString& HTMLTextBody, int uID);
    void oChilkat_ScrapProgress(int percent);

    // The filter rule: the text occurs in From, FromName, FromAddress, ReceivedDate or the
    // plain-text body exactly, or in Subject regardless of letter case. The HTML body is not
    // searched, and an empty field never contains the filter.
    static bool passesFilter(const QString& filter, const QString& From, const QString& FromName,
                             const QString& FromAddress, const QString& Subject, const QString& ReceivedDate,
                             const QString& PlainTextBody);
    // The received day as a serial day number text, read back from the ReceivedDate text;
    // type mismatch (13) when the text is not a date.
    static QString recDate(const QString& receivedDate);

private:
    Services m_services;
    RetrievalView& m_window;
    StatusLine& m_status;
    MainListModels m_models;
    std::function<std::shared_ptr<clsChilkatIMAP>()> m_current;
};
