#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The stand-in map providers (tools/providers) run as their own process: started by the
// constructor on a port the system chooses, killed by the destructor. extraArguments go on its
// command line (e.g. {"--key", "k"}).
class ProviderStandInProcess
{
public:
    explicit ProviderStandInProcess(const QStringList& extraArguments = {})
    {
        m_process.start(QStringLiteral(ORROWDALE_PROVIDERS_PATH), extraArguments);
        if (m_process.waitForStarted(10'000) && m_process.waitForReadyRead(10'000)) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("listening on "))) {
                m_baseUrl = line.mid(13);
            }
        }
    }
    ~ProviderStandInProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ProviderStandInProcess(const ProviderStandInProcess&) = delete;
    ProviderStandInProcess& operator=(const ProviderStandInProcess&) = delete;

    // "http://127.0.0.1:PORT", empty when it did not start.
    QString baseUrl() const { return m_baseUrl; }

private:
    QProcess m_process;
    QString m_baseUrl;
};
