#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>

// One of our servers run as its own process for the length of a test: started by the
// constructor, which waits for its first line "listening on URL", and killed by the destructor.
// Its log (stderr) is kept line by line.
class ListeningProcess
{
public:
    ListeningProcess(const ListeningProcess&) = delete;
    ListeningProcess& operator=(const ListeningProcess&) = delete;

    bool isRunning() const { return !m_baseUrl.isEmpty() && m_process.state() == QProcess::Running; }
    QString errorString() const { return m_error; }
    quint16 port() const { return static_cast<quint16>(m_baseUrl.section(QLatin1Char(':'), -1).toUInt()); }
    // The program's resident size in KiB, as the system counts it; 0 when unknown.
    qint64 residentKiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
        const qsizetype at = text.indexOf("VmRSS:") + 6;
        return at < 6 ? 0
                      : text.mid(at, text.indexOf('\n', at) - at).trimmed().split(' ').value(0).toLongLong();
    }
    // "http://127.0.0.1:PORT", empty when the program did not start.
    QString baseUrl() const { return m_baseUrl; }

    // Every log line so far (after a short wait for more).
    QStringList log() { return settledLog(50); }

    // Waits until a log line contains fragment.
    bool waitForLog(const QString& fragment, int timeoutMs = 5000)
    {
        return waitForLine([&](const QString& line) { return line.contains(fragment); }, timeoutMs);
    }

    // The exit code once the program has ended on its own within timeoutMs, else -1.
    int waitForExit(int timeoutMs)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            return -1;
        }
        read();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

protected:
    // what names the program in the message when it does not start ("the gateway").
    ListeningProcess(const QString& program, const QStringList& arguments, const QString& what,
                     int startTimeoutMs, const QProcessEnvironment& environment = {})
    {
        if (!environment.isEmpty()) {
            m_process.setProcessEnvironment(environment);
        }
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(startTimeoutMs)) {
            m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
            return;
        }
        const QDeadlineTimer deadline(startTimeoutMs);
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString prefix = QStringLiteral("listening on ");
        if (!line.startsWith(prefix)) {
            m_process.waitForFinished(1000);
            m_error = QStringLiteral("%1 did not start: %2")
                          .arg(what, QString::fromUtf8(m_process.readAllStandardError()).trimmed());
            return;
        }
        m_baseUrl = line.mid(prefix.size());
        // From here on only the log (stderr) is read.
        m_process.setReadChannel(QProcess::StandardError);
    }
    ~ListeningProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Every log line so far, once quietMs have passed with nothing new.
    QStringList settledLog(int quietMs)
    {
        while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(quietMs)) {
        }
        read();
        return m_log;
    }

    // Waits until some log line satisfies matches.
    template <typename Predicate> bool waitForLine(Predicate matches, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            read();
            if (std::any_of(m_log.cbegin(), m_log.cend(), matches)) {
                return true;
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
                return false;
            }
            m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

private:
    void read()
    {
        m_pendingLog += m_process.readAllStandardError();
        qsizetype end;
        while ((end = m_pendingLog.indexOf('\n')) >= 0) {
            m_log << QString::fromUtf8(m_pendingLog.left(end));
            m_pendingLog.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QString m_baseUrl;
    QString m_error;
    QStringList m_log;
    QByteArray m_pendingLog;
};
