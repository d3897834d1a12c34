#pragma once

// Root reads and writes every file whatever its permissions. Under root (as in CI), a test
// function that starts with RUN_AS_ORDINARY_USER() runs its row again as the user "nobody"
// (setpriv, from util-linux), in a copy of this program in a folder nobody may enter, and
// that run's verdict is the row's. Under anyone else the row goes on where it is.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace OrdinaryUser {

inline bool RanAsNobody(const char* file, int line)
{
    if (::geteuid() != 0)
        return false;
    static QTemporaryDir dir;
    static QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    static const passwd* user = ::getpwnam("nobody");
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::ExeOther;
    const QString program = dir.filePath(QStringLiteral("test"));
    const QString home = dir.filePath(QStringLiteral("home"));
    if (user && !QFileInfo::exists(program)) {
        QFile::setPermissions(dir.path(), open);
        QFile::copy(QCoreApplication::applicationFilePath(), program);
        QDir().mkpath(home);
        [[maybe_unused]] const int owned =
            ::chown(QFile::encodeName(home).constData(), user->pw_uid, user->pw_gid);
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        // The leak checker's suppressions, which nobody may not be able to read where they are.
        QString lsan = environment.value(QStringLiteral("LSAN_OPTIONS"));
        const auto match = QRegularExpression(QStringLiteral("suppressions=([^:]*)")).match(lsan);
        if (match.hasMatch() && QFile::copy(match.captured(1), dir.filePath(QStringLiteral("lsan.supp")))) {
            QFile::setPermissions(dir.filePath(QStringLiteral("lsan.supp")), open);
            environment.insert(QStringLiteral("LSAN_OPTIONS"),
                               lsan.replace(match.capturedStart(1), match.capturedLength(1),
                                            dir.filePath(QStringLiteral("lsan.supp"))));
        }
    }
    QString row = QString::fromLatin1(QTest::currentTestFunction());
    if (const char* tag = QTest::currentDataTag())
        row += QLatin1Char(':') + QString::fromUtf8(tag);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(home);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (user && QFile::setPermissions(program, open))
        child.start(QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                    {QStringLiteral("--reuid=%1").arg(user->pw_uid),
                     QStringLiteral("--regid=%1").arg(user->pw_gid), QStringLiteral("--clear-groups"),
                     QStringLiteral("--"), program, row});
    const bool finished = child.waitForFinished(240'000);
    const QByteArray output = child.readAll();
    // It ran, and nothing failed or was skipped there.
    if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
        !output.contains("::" + QByteArray(QTest::currentTestFunction()) + "(") ||
        !output.contains(" 0 failed, 0 skipped"))
        QTest::qFail(("as the user nobody: " + child.errorString().toUtf8() + "\n" + output).constData(),
                     file, line);
    return true;
}

} // namespace OrdinaryUser

#define RUN_AS_ORDINARY_USER()                                                                               \
    do {                                                                                                     \
        if (OrdinaryUser::RanAsNobody(__FILE__, __LINE__))                                                   \
            return;                                                                                          \
    } while (false)
