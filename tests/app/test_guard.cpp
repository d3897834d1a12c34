#include "BuildConfig.h"
#include "app/Guard.h"
#include "support/FakeWindowSystem.h"

#include <QtTest>

#include <stdexcept>

// How a guarded handler goes on after a statement fails, and what it reports.
class TestGuard : public QObject
{
    Q_OBJECT

    FakeWindowSystem window;
    [[noreturn]] static void fail() { throw PlatformError(QStringLiteral("no room")); }

private slots:
    void init() { window.boxes.clear(); }

    void reportText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("ours") << 0 << "Permission denied";
        QTest::newRow("empty description") << 0 << "";
        QTest::newRow("standard") << 1 << "bad index";
        QTest::newRow("anything else") << 2 << "Unexpected failure of unknown kind";
    }
    void reportText()
    {
        QFETCH(int, kind);
        QFETCH(QString, description);
        Guard g(window, QStringLiteral("PushButton2_Click"));
        g(104, [&] {
            if (kind == 0)
                throw PlatformError(description);
            if (kind == 1)
                throw std::out_of_range("bad index");
            throw 42;
        });
        QCOMPARE(window.boxes.size(), size_t(1));
        QCOMPARE(window.boxes.front().text,
                 description +
                     QStringLiteral("\r\nin Kestrelby2016/11/03.Form1.PushButton2_Click at line 104\r\r"
                                    "Please email screenshot of this message to ") +
                     QString::fromUtf8(BuildConfig::SupportEmail));
        QCOMPARE(window.boxes.front().style, 48);
        QCOMPARE(window.boxes.front().title, QStringLiteral("Application Error"));
    }

    void continuation()
    {
        QStringList ran;
        int reportsClosed = 0;
        window.onBox = [&](const FakeWindowSystem::Box&) { ++reportsClosed; };
        {
            Guard g(window, QStringLiteral("PushButton5_Click"));
            g(100, [&] { ran << "100"; });
            g(102, [&] {
                fail();
                ran << "102";
            });
            if (g.block(108, []() -> bool { fail(); }))
                ran << "block entered";
            if (g.test(110, []() -> bool { fail(); }))
                ran << "one-line action";
            QVERIFY(!g.block(112, [] { return false; }) && g.test(114, [] { return true; }));
            for (int i = 0; i < 3; ++i) {
                g(174, [] { fail(); });
                ran << QStringLiteral("loop %1 after %2 reports").arg(i).arg(reportsClosed);
            }
            QString answer = QStringLiteral("before");
            g.assign(106, answer, []() -> QString { fail(); });
            ran << answer;
            QVERIFY_THROWS_EXCEPTION(ProgramEnded, g(116, [] { throw ProgramEnded{}; }));
            g(118, [] { fail(); }); // the last statement: the handler still returns
        }
        window.onBox = nullptr;
        QCOMPARE(ran, (QStringList{"100", "block entered", "loop 0 after 4 reports", "loop 1 after 5 reports",
                                   "loop 2 after 6 reports", "before"}));
        QStringList lines;
        for (const QString& text : window.boxTexts())
            lines << text.section(QStringLiteral(" at line "), 1).left(3);
        QCOMPARE(lines, (QStringList{"102", "108", "110", "174", "174", "174", "106", "118"}));
    }
};

QTEST_GUILESS_MAIN(TestGuard)
#include "test_guard.moc"
