#include "mail/ClsChilkatImap.h"

#include "frame/ErrorLog.h"
#include "frame/EventYield.h"
#include "frame/GeneralDate.h"
#include "frame/VbError.h"
#include "mail/FailureCause.h"
#include "mail/FetchRetryPolicy.h"
#include "mail/ImapClient.h"

namespace {

const QString kInvalidLogin =
    QStringLiteral("Invalid login. Please double-check your username and password.") +
    QStringLiteral("\r\n\r\n");
const QString kBasicAuthDisabled = QStringLiteral("Basic authentication is disabled");
const QString kNeedsMicrosoftSignIn = QStringLiteral(
    "This mail service no longer accepts passwords: it needs the Microsoft sign-in.\r\n\r\n"
    "Leave the password empty and set OAuthClientId in the settings to the Application (client) ID of "
    "your own application registration (see the Outlook.com set-up in the README).");
const QString kSignInWithMicrosoft =
    QStringLiteral("This mail service no longer accepts passwords: it needs the Microsoft sign-in.\r\n\r\n"
                   "Leave the password empty and connect again to sign in with Microsoft.");

} // namespace

clsChilkatIMAP::clsChilkatIMAP(MessageBoxService& boxes)
    : m_boxes(boxes)
{}

clsChilkatIMAP::~clsChilkatIMAP()
{
    // No further notifications reach this session; a later session bound since then keeps
    // its binding (the component only unbinds the sink that is bound).
    if (m_ChilkatImap1)
        m_ChilkatImap1->unbindEvents(this);
}

ImapClient* clsChilkatIMAP::ChilkatIMAPObject() const
{
    return m_ChilkatIMAPObject;
}

void clsChilkatIMAP::setChilkatIMAPObject(ImapClient* component)
{
    m_ChilkatIMAPObject = component;
}

void clsChilkatIMAP::bindComponent()
{
    if (m_ChilkatImap1 && m_ChilkatImap1 != m_ChilkatIMAPObject)
        m_ChilkatImap1->unbindEvents(this);
    m_ChilkatImap1 = m_ChilkatIMAPObject;
    if (m_ChilkatImap1)
        m_ChilkatImap1->bindEvents(this);
}

ImapClient& clsChilkatIMAP::component() const
{
    if (!m_ChilkatIMAPObject)
        throw VbError::objectNotSet();
    return *m_ChilkatIMAPObject;
}

void clsChilkatIMAP::GetLastError()
{
    m_boxes.msgBox(kInvalidLogin + failureCause());
}

QString clsChilkatIMAP::failureCause()
{
    if (!m_ChilkatIMAPObject)
        return QString();
    const ImapFailure failure = m_ChilkatIMAPObject->lastFailure();
    // A Stop, or a connection the program closed itself, is no cause to tell.
    if (failure.kind == ImapFailure::Kind::Aborted || failure.kind == ImapFailure::Kind::Other)
        return QString();
    if (failure.kind == ImapFailure::Kind::Refused) {
        // A refused sign-in is what the box's first words say; a refused selection is a folder
        // the account does not have.
        return m_selecting.isNull() ? QString() : FailureCause::folderMissing(m_selecting);
    }
    return FailureCause::text(failure);
}

void clsChilkatIMAP::showAlerts()
{
    if (!m_ChilkatIMAPObject)
        return;
    for (const QString& alert : m_ChilkatIMAPObject->takeAlerts()) {
        if (m_alertsShown.contains(alert))
            continue;
        m_alertsShown.append(alert);
        m_boxes.msgBox(alert, MessageBoxService::Icon::Information);
    }
}

bool clsChilkatIMAP::connectQuietly()
{
    bindComponent();
    ImapClient& imap = component();
    imap.setSsl(m_SSL);
    imap.setPort(m_PORT);
    m_LastStatus = imap.connect(m_IMAPServer);
    if (m_LastStatus != 1)
        return false;
    const QString response = imap.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")"));
    // Login only after a usable answer to the identification.
    if (response.isEmpty()) {
        m_LastStatus = 0;
        return false;
    }
    // A PREAUTH greeting has signed the connection in already: no password goes out.
    if (imap.state() == ImapClient::State::Authenticated)
        return true;
    m_LastStatus = logIn(imap);
    return m_LastStatus == 1;
}

bool clsChilkatIMAP::Connect()
{
    // Keeps the session alive while the call yields, even when its owner lets go meanwhile.
    const auto self = weak_from_this().lock();
    m_selecting = QString();
    const bool connected = connectQuietly();
    if (!connected) {
        GetLastError();
        if (component().lastErrorText().contains(kBasicAuthDisabled, Qt::CaseInsensitive))
            m_boxes.msgBox(m_SignIn && m_SignIn->isConfiguredFor(m_IMAPServer) ? kSignInWithMicrosoft
                                                                               : kNeedsMicrosoftSignIn);
    }
    showAlerts();
    return connected;
}

bool clsChilkatIMAP::usesOAuth(ImapClient& imap)
{
    return m_Password.isEmpty() && m_SignIn && m_SignIn->isConfiguredFor(m_IMAPServer) &&
           imap.hasCapability(QStringLiteral("AUTH=XOAUTH2"));
}

int clsChilkatIMAP::logIn(ImapClient& imap)
{
    if (!usesOAuth(imap))
        return imap.login(m_Username, m_Password);
    const QPointer<OAuthSignIn> signIn = m_SignIn;
    const std::optional<QString> token = signIn->accessToken(m_Username);
    if (!signIn)
        return 0;
    if (!token) {
        // Says which of cancel, denial, expiry or an unreachable service it was; the login-failure
        // box follows as for a refused password.
        m_boxes.msgBox(signIn->errorText());
        return 0;
    }
    int status = imap.loginXOAuth2(m_Username, *token);
    // A server may give up on a connection that waited long for the user to sign in: connect and
    // identify again, then present the token once more.
    if (status != 1 && imap.state() == ImapClient::State::NotConnected && imap.connect(m_IMAPServer) == 1 &&
        !imap.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")).isEmpty())
        status = imap.loginXOAuth2(m_Username, *token);
    if (status != 1)
        signIn->dropAccessToken();
    return status;
}

int clsChilkatIMAP::GetTotalMessage(const QString& FolderName)
{
    const auto self = weak_from_this().lock();
    bindComponent();
    m_selecting = FolderName;
    // A retrieval reconnects right after the count (StartMailExtraction): the connection it will
    // take starts now, so that its handshakes run while the count is answered.
    component().prepareConnect(m_IMAPServer);
    m_LastStatus = component().selectMailbox(m_Mailboxes.mailboxFor(component(), FolderName));
    const int count = m_LastStatus == 1 ? component().numMessages() : 0;
    if (m_LastStatus != 1)
        GetLastError();
    showAlerts();
    return count;
}

void clsChilkatIMAP::StartMailExtraction(const QString& FolderName)
{
    const auto self = weak_from_this().lock();
    m_gaps = ExtractionGaps();
    if (!Connect()) {
        m_boxes.msgBox(QStringLiteral("Connection failed. Check username and password."));
        return;
    }
    bindComponent();
    m_selecting = FolderName;
    // The window's folder as this server names it; a reconnect opens the same mailbox.
    const QString mailbox = m_Mailboxes.mailboxFor(component(), FolderName);
    // The range is read once: a later change of MaxRecord does not move the end. Told before
    // the folder is selected, the component starts the walk along with the selection.
    const qint64 first = m_CurrentLocation;
    const qint64 last = m_MaxRecord;
    component().setReadAhead(int(first), int(last));
    m_LastStatus = component().selectMailbox(mailbox);
    if (m_LastStatus != 1) {
        GetLastError();
        showAlerts();
        return;
    }
    m_folderCount = component().numMessages();
    m_gaps.countBefore = m_folderCount;
    for (qint64 i = first; i <= last; ++i) {
        yieldEvents();
        m_CurrentLocation = int(i);
        bool lost = false;
        const std::optional<MailMessage> message = fetchRecovering(mailbox, int(i), int(last), lost);
        if (lost) {
            // No connection to be had: the rest of the range is unread, without asking for each.
            for (qint64 n = i + 1; n <= last && n <= m_folderCount; ++n) {
                if (n >= 1)
                    m_gaps.unread.append(int(n));
            }
            break;
        }
        // A failed or abandoned fetch is skipped; after a Stop, or once the connection was
        // closed by someone else, nothing more is asked for.
        if (!message) {
            if (AbortProcess || component().lastFailure().kind == ImapFailure::Kind::NotConnected)
                break;
            continue;
        }
        if (AbortProcess)
            break;
        const QString From = message->From;
        const QString FromName = message->FromName;
        const QString FromAddress = message->FromAddress;
        const QString Subject = message->Subject;
        const QString ReceivedDate = message->Date.isValid() ? GeneralDate::format(message->Date) : QString();
        const QString PlainTextBody = message->PlainTextBody;
        const QString HTMLTextBody = message->HtmlBody;
        Q_EMIT MailExtractListing(From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody,
                                  HTMLTextBody, int(i));
        yieldEvents();
    }
    showAlerts();
}

std::optional<MailMessage> clsChilkatIMAP::fetchRecovering(const QString& folder, int number, int last,
                                                           bool& lost)
{
    using Action = FetchRetryPolicy::Action;
    int reconnects = 0;
    int busyRetries = 0;
    for (;;) {
        std::optional<MailMessage> message = component().fetchSingle(number, false);
        WriteErrorLog();
        if (message || AbortProcess)
            return message;
        const ImapFailure failure = component().lastFailure();
        const FetchRetryPolicy::Decision next =
            FetchRetryPolicy::afterFetch(failure, reconnects, busyRetries);
        switch (next.action) {
        case Action::Skip:
            noteUnread(number, failure);
            return std::nullopt;
        case Action::GiveUpRest:
            // Without a connection that this session lost itself (a Disconnect meanwhile, say)
            // the extraction ends as after a Stop.
            if (failure.kind == ImapFailure::Kind::NotConnected)
                return std::nullopt;
            noteUnread(number, failure);
            lost = true;
            return std::nullopt;
        case Action::WaitAndRetry:
            ++busyRetries;
            if (!waitWithStatus(next.waitMs, QStringLiteral("Server busy, waiting %1 s"), number, last))
                return std::nullopt;
            // Asked again, the same number starts the read-ahead anew.
            component().setReadAhead(number, last);
            break;
        case Action::Reconnect:
            if (!reconnect(folder, number, last, reconnects, next.waitMs)) {
                if (!AbortProcess) {
                    if (number >= 1 && number <= m_folderCount)
                        m_gaps.unread.append(number);
                    lost = true;
                }
                return std::nullopt;
            }
            break;
        }
    }
}

bool clsChilkatIMAP::reconnect(const QString& folder, int number, int last, int& reconnects, int waitMs)
{
    for (;;) {
        ++reconnects;
        if (!waitWithStatus(waitMs, QStringLiteral("Connection lost, reconnecting in %1 s"), number, last))
            return false;
        const bool signedIn = connectQuietly();
        bool ok = false;
        if (signedIn) {
            bindComponent();
            ok = component().selectMailbox(folder) == 1;
        }
        if (AbortProcess)
            return false;
        if (ok) {
            m_LastStatus = 1;
            const int count = component().numMessages();
            // The numbers may have moved: go on, and let the report say so.
            if (count != m_gaps.countBefore)
                m_gaps.countAfter = count;
            m_folderCount = count;
            // The new connection reads ahead from the number asked for again.
            component().setReadAhead(number, last);
            return true;
        }
        const ImapFailure failure = component().lastFailure();
        if (failure.kind != ImapFailure::Kind::Refused)
            m_gaps.lastReason = FailureCause::text(failure);
        else if (signedIn)
            m_gaps.lastReason = FailureCause::folderMissing(folder);
        else
            m_gaps.lastReason = FailureCause::signInRefused(failure);
        const FetchRetryPolicy::Decision next = FetchRetryPolicy::afterReconnect(failure, reconnects);
        if (next.action != FetchRetryPolicy::Action::Reconnect)
            return false;
        waitMs = next.waitMs;
    }
}

bool clsChilkatIMAP::waitWithStatus(int ms, const QString& what, int number, int last)
{
    if (ms > 0) {
        const int seconds = (ms + 999) / 1000;
        Q_EMIT ExtractionStatus(what.arg(seconds) +
                                QStringLiteral(" (reading mail %1 of %2)").arg(number).arg(last));
    }
    return m_wait.wait(ms, [this] { return AbortProcess; });
}

void clsChilkatIMAP::noteUnread(int number, const ImapFailure& failure)
{
    // A message that is not there (expunged, or past the folder's end) is no gap.
    if (failure.kind == ImapFailure::Kind::NoData || failure.kind == ImapFailure::Kind::Aborted ||
        failure.kind == ImapFailure::Kind::Other || number < 1 || number > m_folderCount)
        return;
    m_gaps.unread.append(number);
    m_gaps.lastReason = FailureCause::text(failure);
}

std::optional<QStringList> clsChilkatIMAP::EnumMailFolders()
{
    const auto self = weak_from_this().lock();
    bindComponent();
    const auto mailboxes = component().listMailboxEntries(QString(), QStringLiteral("*"));
    if (!mailboxes) {
        m_selecting = QString();
        GetLastError();
        showAlerts();
        return std::nullopt;
    }
    m_Mailboxes.remember(*mailboxes);
    showAlerts();
    QStringList names;
    for (const MailboxEntry& mailbox : *mailboxes) {
        names.append(mailbox.name);
        yieldEvents();
    }
    return names;
}

void clsChilkatIMAP::WriteErrorLog()
{
    ErrorLog::append(m_ChilkatIMAPObject ? m_ChilkatIMAPObject->lastErrorText() : QString());
}

void clsChilkatIMAP::abortCheck(bool& abort)
{
    const auto self = weak_from_this().lock();
    abort = AbortProcess;
    yieldEvents();
}

void clsChilkatIMAP::percentDone(int percent, bool&)
{
    const auto self = weak_from_this().lock();
    Q_EMIT ScrapProgress(percent);
    yieldEvents();
}
