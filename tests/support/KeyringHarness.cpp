#include "support/KeyringHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLibrary>
#include <QStandardPaths>
#include <QThread>

#include <optional>

#include <signal.h>

namespace {
const QString kBusName = QStringLiteral("org.freedesktop.secrets");

// A session bus that lets everyone talk to everyone and activates nothing.
const char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

QString run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
            int* exitCode)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}
} // namespace

QString KeyringHarness::missingPackages()
{
    QStringList missing;
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        missing << QStringLiteral("dbus");
    if (QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty())
        missing << QStringLiteral("gnome-keyring");
    if (QStandardPaths::findExecutable(QStringLiteral("secret-tool")).isEmpty())
        missing << QStringLiteral("libsecret-tools");
    if (!QLibrary(QStringLiteral("secret-1"), 0).load())
        missing << QStringLiteral("libsecret-1-0");
    return missing.isEmpty() ? QString()
                             : QStringLiteral("missing packages: ") + missing.join(QLatin1Char(' '));
}

KeyringHarness::~KeyringHarness()
{
    for (QProcess* process : {&m_keyring, &m_bus}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

QProcessEnvironment KeyringHarness::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("home/.local/share")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
    env.remove(QStringLiteral("DISPLAY"));
    return env;
}

bool KeyringHarness::start()
{
    const QString missing = missingPackages();
    if (!missing.isEmpty()) {
        m_error = missing;
        return false;
    }
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("home/.local/share"));
    root.mkpath(QStringLiteral("run"));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    config.write(QString::fromLatin1(kBusConfig).arg(m_dir.path()).toUtf8());
    config.close();

    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    QDeadlineTimer deadline(10000);
    while (!m_bus.canReadLine() && !deadline.hasExpired() && m_bus.state() != QProcess::NotRunning)
        m_bus.waitForReadyRead(200);
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    if (m_address.isEmpty()) {
        m_error = QStringLiteral("the session bus did not start: ") +
                  QString::fromUtf8(m_bus.readAllStandardError());
        return false;
    }
    // Everything in this process that asks for the session bus (libsecret) finds this one, and
    // the keyring manager of a desktop session (KWallet) is not chosen.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("DESKTOP_SESSION");

    m_keyring.setProcessEnvironment(environment());
    m_keyring.start(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--unlock"), QStringLiteral("--components=secrets"), QStringLiteral("--foreground")});
    m_keyring.write("keyring-test-password\n");
    m_keyring.closeWriteChannel();
    deadline.setRemainingTime(10000);
    while (!secretsOwned()) {
        if (deadline.hasExpired() || m_keyring.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("GNOME Keyring did not take the bus name: ") +
                      QString::fromUtf8(m_keyring.readAllStandardError());
            return false;
        }
        m_keyring.waitForFinished(100); // returns early only when the daemon ends
    }
    return true;
}

bool KeyringHarness::secretsOwned()
{
    int code = 0;
    const QString answer =
        run(QStringLiteral("dbus-send"),
            {QStringLiteral("--session"), QStringLiteral("--print-reply"),
             QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
             QStringLiteral("org.freedesktop.DBus.NameHasOwner"), QStringLiteral("string:") + kBusName},
            environment(), &code);
    return code == 0 && answer.contains(QStringLiteral("boolean true"));
}

void KeyringHarness::freeze()
{
    ::kill(static_cast<pid_t>(m_keyring.processId()), SIGSTOP);
}

void KeyringHarness::thaw()
{
    ::kill(static_cast<pid_t>(m_keyring.processId()), SIGCONT);
}

void KeyringHarness::stopKeyring()
{
    thaw();
    m_keyring.terminate();
    if (!m_keyring.waitForFinished(5000)) {
        m_keyring.kill();
        m_keyring.waitForFinished();
    }
}

std::optional<QString> KeyringHarness::lookup(const QString& service, const QString& key)
{
    int code = 0;
    const QString secret =
        run(QStringLiteral("secret-tool"),
            {QStringLiteral("lookup"), QStringLiteral("server"), service, QStringLiteral("user"), key},
            environment(), &code);
    if (code != 0)
        return std::nullopt;
    return secret;
}

QString KeyringHarness::label(const QString& service, const QString& key)
{
    const QString found =
        run(QStringLiteral("secret-tool"),
            {QStringLiteral("search"), QStringLiteral("server"), service, QStringLiteral("user"), key},
            environment(), nullptr);
    for (const QString& line : found.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("label = ")))
            return line.mid(8);
    }
    return QString();
}

bool KeyringHarness::anyFileHolds(const QString& folder, const QByteArray& text) const
{
    for (const QString& base : {m_dir.path(), folder}) {
        QDirIterator it(base, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
                return true;
        }
    }
    return false;
}
