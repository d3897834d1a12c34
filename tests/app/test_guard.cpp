#include "BuildConfig.h"
#include "app/Guard.h"
#include "support/FakeWindowSystem.h"

#include <QtTest>

#include <stdexcept>

// The guard's continuation rules, driven by statements that fail on purpose.
class TestGuard : public QObject
{
    Q_OBJECT

private:
    FakeWindowSystem window;
    [[noreturn]] static void fail(const char* why) { throw PlatformError(QString::fromLatin1(why)); }

private slots:
    void init() { window.boxes.clear(); }

    void reportText()
    {
        ReportFailure(window, QStringLiteral("in Kestrelby2016/11/03.Form1.PushButton2_Click "), 104,
                      QStringLiteral("Permission denied"));
        QCOMPARE(window.boxes.size(), size_t(1));
        const auto& box = window.boxes.front();
        QCOMPARE(box.text,
                 QStringLiteral("Permission denied\r\nin Kestrelby2016/11/03.Form1.PushButton2_Click at "
                                "line 104\r\rPlease email screenshot of this message to ") +
                     QString::fromUtf8(BuildConfig::SupportEmail));
        QCOMPARE(box.style, 48);
        QCOMPARE(box.title, QStringLiteral("Application Error"));
    }

    void emptyDescriptionStartsWithLineBreak()
    {
        Guard g(window, QStringLiteral("PushButton1_Click"));
        g(100, [] { fail(""); });
        QVERIFY(window.boxes.front().text.startsWith(
            QStringLiteral("\r\nin Kestrelby2016/11/03.Form1.PushButton1_Click at line 100\r\r")));
    }

    void everyKindOfFailureIsCaught_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("ours") << 0 << QStringLiteral("disk full");
        QTest::newRow("standard") << 1 << QStringLiteral("bad index");
        QTest::newRow("anything") << 2 << QStringLiteral("Unexpected failure of unknown kind");
    }
    void everyKindOfFailureIsCaught()
    {
        QFETCH(int, kind);
        QFETCH(QString, description);
        Guard g(window, QStringLiteral("Form_Load"));
        g(152, [&] {
            if (kind == 0)
                throw PlatformError(QStringLiteral("disk full"));
            if (kind == 1)
                throw std::out_of_range("bad index");
            throw 42;
        });
        QCOMPARE(window.boxes.size(), size_t(1));
        QVERIFY(window.boxes.front().text.startsWith(description +
                                                     QStringLiteral("\r\nin Kestrelby2016/11/03.Form1."
                                                                    "Form_Load at line 152")));
    }

    void plainStatementGoesOnWithTheNext()
    {
        QStringList ran;
        Guard g(window, QStringLiteral("PushButton5_Click"));
        g(100, [&] { ran << "100"; });
        g(102, [&] {
            fail("no room");
            ran << "102";
        });
        g(104, [&] { ran << "104"; });
        QCOMPARE(ran, QStringList({"100", "104"}));
        QCOMPARE(window.boxes.size(), size_t(1));
        QVERIFY(window.boxes.front().text.contains(QStringLiteral("PushButton5_Click at line 102\r\r")));
    }

    void failedBlockTestEntersTheBlock()
    {
        Guard g(window, QStringLiteral("Form_Load"));
        bool entered = false;
        if (g.block(108, [&]() -> bool { fail("attributes unreadable"); }))
            entered = true;
        QVERIFY(entered);
        QCOMPARE(window.boxes.size(), size_t(1));
    }

    void failedOneLineTestSkipsItsAction()
    {
        Guard g(window, QStringLiteral("PushButton6_Click"));
        bool endedHere = false;
        if (g.test(108, [&]() -> bool { fail("cannot compare"); }))
            endedHere = true;
        QVERIFY(!endedHere);
        QCOMPARE(window.boxes.size(), size_t(1));
    }

    void testsAnswerNormallyWithoutFailure()
    {
        Guard g(window, QStringLiteral("Form_Load"));
        QVERIFY(!g.block(136, [] { return false; }));
        QVERIFY(g.test(108, [] { return true; }));
        QVERIFY(window.boxes.empty());
    }

    void failureInLoopIsReportedEachTime()
    {
        Guard g(window, QStringLiteral("PushButton17_Click"));
        int closedBeforeNext = 0;
        window.onBox = [&](const FakeWindowSystem::Box&) { ++closedBeforeNext; };
        int after = 0;
        for (int i = 0; i < 3; ++i) {
            g(174, [] { fail("not an image"); });
            QCOMPARE(closedBeforeNext, i + 1); // each report is closed before the run goes on
            ++after;
        }
        QCOMPARE(after, 3);
        QCOMPARE(window.boxes.size(), size_t(3));
        window.onBox = nullptr;
    }

    void lastStatementFailingEndsNormally()
    {
        bool returned = false;
        {
            Guard g(window, QStringLiteral("PushButton1_Click"));
            g(100, [] { fail("busy"); });
            returned = true;
        }
        QVERIFY(returned);
        QCOMPARE(window.boxes.size(), size_t(1));
    }

    void assignKeepsTheOldValueOnFailure()
    {
        Guard g(window, QStringLiteral("PushButton6_Click"));
        QString answer = QStringLiteral("before");
        g.assign(106, answer, []() -> QString { fail("prompt broke"); });
        QCOMPARE(answer, QStringLiteral("before"));
        g.assign(106, answer, [] { return QStringLiteral("03087"); });
        QCOMPARE(answer, QStringLiteral("03087"));
    }

    void programEndPassesThrough()
    {
        Guard g(window, QStringLiteral("PushButton17_Click"));
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, g(116, [] { throw ProgramEnded{}; }));
        QVERIFY(window.boxes.empty());
    }
};

QTEST_GUILESS_MAIN(TestGuard)
#include "test_guard.moc"
