#pragma once

// Root ignores file permissions. Under root (as in CI), a test row that starts with
// `if (RanAsNobody()) return;` runs again as the user nobody (setpriv), from a copy of this
// program in a folder it may enter, and fails if that run fails or skips.

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

inline bool RanAsNobody()
{
    if (::geteuid() != 0)
        return false;
    static QTemporaryDir home;
    static const QProcessEnvironment environment = [] {
        ::chmod(QFile::encodeName(home.path()), 0711);
        QFile::copy(QCoreApplication::applicationFilePath(), home.filePath("test"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        // The leak checker reads its suppressions as nobody too.
        QString lsan = env.value("LSAN_OPTIONS");
        const auto at = QRegularExpression("(?:^|:)suppressions=([^:]*)").match(lsan);
        if (at.hasMatch() && QFile::copy(at.captured(1), home.filePath("lsan.supp")))
            env.insert("LSAN_OPTIONS",
                       lsan.replace(at.capturedStart(1), at.capturedLength(1), home.filePath("lsan.supp")));
        return env;
    }();
    const QString function = QTest::currentTestFunction(), tag = QTest::currentDataTag();
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", home.filePath("test"),
                            tag.isNull() ? function : function + ':' + tag});
    const bool finished = child.waitForFinished(240'000);
    const QString output = child.readAll();
    // A row that passed ends its line there; a skipped one says why after it.
    if (!finished || child.exitCode() != 0 || !output.contains(QString("::%1(%2)\n").arg(function, tag)))
        QTest::qFail(qPrintable("as the user nobody: " + child.errorString() + '\n' + output), __FILE__,
                     __LINE__);
    return true;
}
