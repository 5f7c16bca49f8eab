#include "mail/ClsChilkatImap.h"

#include "frame/ErrorLog.h"
#include "frame/EventYield.h"
#include "frame/VbError.h"
#include "mail/GeneralDate.h"
#include "mail/ImapClient.h"

namespace {

const QString kInvalidLogin =
    QStringLiteral("Invalid login. Please double-check your username and password.") + QStringLiteral("\r\n\r\n");
const QString kBasicAuthDisabled = QStringLiteral("Basic authentication is disabled");
const QString kNeedsMicrosoftSignIn = QStringLiteral(
    "This mail service no longer accepts passwords: it needs the Microsoft sign-in.\r\n\r\n"
    "Leave the password empty and set OAuthClientId in the settings to the Application (client) ID of "
    "your own application registration (see the Outlook.com set-up in the README).");

} // namespace

clsChilkatIMAP::clsChilkatIMAP(MessageBoxService& boxes) : m_boxes(boxes) {}

clsChilkatIMAP::~clsChilkatIMAP()
{
    // No further notifications reach this session; a later session bound since then keeps
    // its binding (the component only unbinds the sink that is bound).
    if (m_ChilkatImap1)
        m_ChilkatImap1->unbindEvents(this);
}

ImapClient* clsChilkatIMAP::ChilkatIMAPObject() const { return m_ChilkatIMAPObject; }

void clsChilkatIMAP::setChilkatIMAPObject(ImapClient* component) { m_ChilkatIMAPObject = component; }

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

void clsChilkatIMAP::GetLastError() { m_boxes.msgBox(kInvalidLogin); }

bool clsChilkatIMAP::Connect()
{
    // Keeps the session alive while the call yields, even when its owner lets go meanwhile.
    const auto self = weak_from_this().lock();
    bindComponent();
    ImapClient& imap = component();
    imap.setSsl(m_SSL);
    imap.setPort(m_PORT);
    m_LastStatus = imap.connect(m_IMAPServer);
    if (m_LastStatus == 1) {
        const QString response = imap.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")"));
        // Login only after a usable answer to the identification.
        if (!response.isEmpty()) {
            m_LastStatus = logIn(imap);
            if (m_LastStatus == 1)
                return true;
        }
    }
    GetLastError();
    if (imap.lastErrorText().contains(kBasicAuthDisabled, Qt::CaseInsensitive))
        m_boxes.msgBox(kNeedsMicrosoftSignIn);
    return false;
}

bool clsChilkatIMAP::usesOAuth(ImapClient& imap)
{
    return m_Password.isEmpty() && m_SignIn && m_SignIn->isConfigured()
        && imap.hasCapability(QStringLiteral("AUTH=XOAUTH2"));
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
    if (status != 1 && imap.state() == ImapClient::State::NotConnected && imap.connect(m_IMAPServer) == 1
        && !imap.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")).isEmpty())
        status = imap.loginXOAuth2(m_Username, *token);
    if (status != 1)
        signIn->dropAccessToken();
    return status;
}

int clsChilkatIMAP::GetTotalMessage(const QString& FolderName)
{
    const auto self = weak_from_this().lock();
    bindComponent();
    m_LastStatus = component().selectMailbox(FolderName);
    if (m_LastStatus == 1)
        return component().numMessages();
    GetLastError();
    return 0;
}

void clsChilkatIMAP::StartMailExtraction(const QString& FolderName)
{
    const auto self = weak_from_this().lock();
    if (!Connect()) {
        m_boxes.msgBox(QStringLiteral("Connection failed. Check username and password."));
        return;
    }
    bindComponent();
    m_LastStatus = component().selectMailbox(FolderName);
    if (m_LastStatus != 1) {
        GetLastError();
        return;
    }
    // The range is read once: a later change of MaxRecord does not move the end.
    const qint64 first = m_CurrentLocation;
    const qint64 last = m_MaxRecord;
    component().setReadAhead(int(first), int(last));
    for (qint64 i = first; i <= last; ++i) {
        yieldEvents();
        m_CurrentLocation = int(i);
        const std::optional<MailMessage> message = component().fetchSingle(int(i), false);
        WriteErrorLog();
        // A failed or abandoned fetch is skipped without looking at the stop flag.
        if (!message)
            continue;
        if (AbortProcess)
            break;
        const QString From = message->From;
        const QString FromName = message->FromName;
        const QString FromAddress = message->FromAddress;
        const QString Subject = message->Subject;
        const QString ReceivedDate = message->Date.isValid() ? GeneralDate::format(message->Date) : QString();
        const QString PlainTextBody = message->PlainTextBody;
        const QString HTMLTextBody = message->HtmlBody;
        Q_EMIT MailExtractListing(From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody,
                                  int(i));
        yieldEvents();
    }
}

std::optional<QStringList> clsChilkatIMAP::EnumMailFolders()
{
    const auto self = weak_from_this().lock();
    bindComponent();
    const std::optional<QStringList> mailboxes = component().listMailboxes(QString(), QStringLiteral("*"));
    if (!mailboxes) {
        GetLastError();
        return std::nullopt;
    }
    QStringList names;
    for (qsizetype k = 0; k < mailboxes->size(); ++k) {
        names.append(mailboxes->at(k));
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
