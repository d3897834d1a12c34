#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>

// The map gateway (src/gateway) run as its own process for the length of a test: started by
// the constructor on a port the system chooses (unless arguments name one), killed by the
// destructor. Its log (stderr) is kept line by line.
class GatewayProcess
{
public:
    explicit GatewayProcess(const QStringList& arguments = {}, const QProcessEnvironment& environment = {},
                            const QString& program = QStringLiteral(ORROWDALE_GATEWAY_PATH),
                            int startTimeoutMs = 10'000)
    {
        QStringList all = arguments;
        if (program == QLatin1String(ORROWDALE_GATEWAY_PATH) && !all.contains(QStringLiteral("--port"))) {
            all << QStringLiteral("--port") << QStringLiteral("0");
        }
        if (!environment.isEmpty()) {
            m_process.setProcessEnvironment(environment);
        }
        m_process.start(program, all);
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
            m_error = QStringLiteral("the gateway did not start: %1")
                          .arg(QString::fromUtf8(m_process.readAllStandardError()).trimmed());
            return;
        }
        m_baseUrl = line.mid(prefix.size());
        m_process.setReadChannel(QProcess::StandardError);
    }
    ~GatewayProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    bool isRunning() const { return !m_baseUrl.isEmpty() && m_process.state() == QProcess::Running; }
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:PORT", empty when the gateway did not start.
    QString baseUrl() const { return m_baseUrl; }

    // Every log line so far (after a short wait for more).
    QStringList log()
    {
        while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(50)) {
        }
        read();
        return m_log;
    }

    // Waits until a log line contains fragment.
    bool waitForLog(const QString& fragment, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            read();
            if (std::any_of(m_log.cbegin(), m_log.cend(),
                            [&](const QString& l) { return l.contains(fragment); })) {
                return true;
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
                return false;
            }
            m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

    // The exit code once the gateway has ended on its own within timeoutMs, else -1.
    int waitForExit(int timeoutMs)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            return -1;
        }
        read();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
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
