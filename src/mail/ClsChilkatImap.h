#pragma once

#include "frame/MessageBoxService.h"
#include "mail/ImapEventSink.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "mail/ExtractionGaps.h"
#include "mail/ImapClient.h"
#include "mail/MailboxDirectory.h"
#include "mail/OAuthSignIn.h"
#include "mail/RetryWait.h"

// The mail session: connection settings, the range of message numbers of the next extraction
// and a stop flag around the window's IMAP component. It connects, identifies and logs in,
// selects a folder and counts it, fetches a range of messages one by one and reports each
// through MailExtractListing, and lists the mailboxes. Failed component calls end in one
// fixed message box (with the cause when it was not a refused sign-in) and a false or 0 result.
// The extraction recovers by itself: a fetch that lost the connection reconnects and asks again,
// a busy server is asked again after the wait it suggests (FetchRetryPolicy); what still could not
// be read is kept in Gaps() for the owner to report. [ALERT] texts of the server are shown once
// each, in a box after the operation that received them.
//
// Lifetime: create it with std::make_shared. Every operation holds a reference to the session
// while it runs, so the session survives its owner dropping it in the middle (a Stop click
// handled while the operation yields).
//
// The component is not owned: the main window owns its one ImapClient for the window's whole
// life and hands the same instance to every session. The session only keeps a guarded pointer
// to it. Each operation binds the session as the component's notification receiver; the
// component notifies the receiver bound last, and the destructor unbinds (only when it is
// still the bound one), so a session stopped earlier never stops a later session's operation.
class clsChilkatIMAP : public QObject,
                       public ImapEventSink,
                       public std::enable_shared_from_this<clsChilkatIMAP> {
    Q_OBJECT
public:
    explicit clsChilkatIMAP(MessageBoxService& boxes);
    ~clsChilkatIMAP() override;

    // Set by the owner to stop a running extraction; read at the component's abort checks and
    // at each step of the extraction loop.
    bool AbortProcess = false;

    int MaxRecord() const { return m_MaxRecord; }
    void setMaxRecord(int value) { m_MaxRecord = value; }
    int CurrentLocation() const { return m_CurrentLocation; }
    void setCurrentLocation(int value) { m_CurrentLocation = value; }
    ImapClient* ChilkatIMAPObject() const;
    void setChilkatIMAPObject(ImapClient* component);
    int PORT() const { return m_PORT; }
    void setPORT(int value) { m_PORT = value; }
    bool SSL() const { return m_SSL; }
    void setSSL(bool value) { m_SSL = value; }
    QString IMAPServer() const { return m_IMAPServer; }
    void setIMAPServer(const QString& value) { m_IMAPServer = value; }
    QString Password() const { return m_Password; }
    void setPassword(const QString& value) { m_Password = value; }
    QString Username() const { return m_Username; }
    void setUsername(const QString& value) { m_Username = value; }
    // The window's Microsoft sign-in; not owned. Used instead of the password when the password
    // is empty, a client ID is set and the server offers XOAUTH2.
    OAuthSignIn* SignIn() const { return m_SignIn; }
    void setSignIn(OAuthSignIn* signIn) { m_SignIn = signIn; }
    // Result of the last connect, login or folder selection (1 = success).
    int LastStatus() const { return m_LastStatus; }

    // Shows the login-failure box.
    void GetLastError();
    // Connect, identify (ID command) and log in; true only when all of it succeeds.
    bool Connect();
    // Selects the folder and returns its message count; 0 (after the login-failure box)
    // when it cannot be selected.
    int GetTotalMessage(const QString& FolderName);
    // Connects, selects the folder and fetches the messages CurrentLocation..MaxRecord one by
    // one, raising MailExtractListing for each fetched message.
    void StartMailExtraction(const QString& FolderName);
    // The names of all mailboxes, in the component's order; nothing when they cannot be listed.
    std::optional<QStringList> EnumMailFolders();

    // What the last extraction could not read.
    const ExtractionGaps& Gaps() const { return m_gaps; }
    // The waits between attempts (tests let their time pass without waiting).
    void setRetryWait(const RetryWait& wait) { m_wait = wait; }

    // Notifications of the component (ChilkatImap1_AbortCheck, ChilkatImap1_PercentDone).
    void abortCheck(bool& abort) override;
    void percentDone(int percent, bool& abort) override;

Q_SIGNALS:
    void MailExtractListing(const QString& From, const QString& FromName, const QString& FromAddress,
                            const QString& Subject, const QString& ReceivedDate, const QString& PlainTextBody,
                            const QString& HTMLTextBody, int uID);
    void ScrapProgress(int percent);
    // A status line while the extraction waits for a busy server or to reconnect.
    void ExtractionStatus(const QString& text);

private:
    // Binds this session as the receiver of the component's notifications (ChilkatImap1).
    void bindComponent();
    // The component, or runtime error 91 when none was set.
    ImapClient& component() const;
    void WriteErrorLog();
    // Logs in with the password, or with XOAUTH2 when that is what the account uses.
    int logIn(ImapClient& imap);
    bool usesOAuth(ImapClient& imap);
    // Connect, ID and sign-in without any box; true when signed in.
    bool connectQuietly();
    // The cause of the last failure for the login-failure box; empty for a refused sign-in.
    QString failureCause();
    void showAlerts();
    // One message of the extraction, asked again as the retry policy says. Sets `lost` when the
    // connection cannot be had back.
    std::optional<MailMessage> fetchRecovering(const QString& folder, int number, int last, bool& lost);
    bool reconnect(const QString& folder, int number, int last, int& reconnects, int waitMs);
    bool waitWithStatus(int ms, const QString& what, int number, int last);
    void noteUnread(int number, const ImapFailure& failure);

    MessageBoxService& m_boxes;
    int m_LastStatus = 0;
    QString m_Username;
    QString m_Password;
    QString m_IMAPServer;
    bool m_SSL = false;
    int m_PORT = 0;
    QPointer<ImapClient> m_ChilkatIMAPObject;
    int m_CurrentLocation = 0;
    int m_MaxRecord = 0;
    QPointer<OAuthSignIn> m_SignIn;
    QPointer<ImapClient> m_ChilkatImap1; // the instance this session is bound to for notifications
    QString m_selecting;                 // the folder being selected, for the failure's cause
    QStringList m_alertsShown;
    ExtractionGaps m_gaps;
    int m_folderCount = 0; // the selected folder's message count, as last seen
    RetryWait m_wait;
    MailboxDirectory m_Mailboxes; // the listing of the connect; the folders' mailboxes in it
};
