#include "locations/ListFile.h"
#include "platform/PlatformError.h"

#include <QtTest>

// How the bytes of a list file become locations, whatever the chunk size the reader uses:
// records at CR LF, CR or LF, and the encoding told from the bytes.
class TestListFile : public QObject
{
    Q_OBJECT

    // Chunk sizes that put every boundary in every place for these short inputs.
    static constexpr qsizetype Chunks[] = {1, 2, 3, 5, 1 << 16};

    static QByteArray utf16(const QString& text, bool little)
    {
        QByteArray bytes(little ? "\xFF\xFE" : "\xFE\xFF", 2);
        for (QChar c : text) {
            const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
            bytes.append(little ? lo : hi).append(little ? hi : lo);
        }
        return bytes;
    }

private slots:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        const QString A = QStringLiteral("A"), B = QStringLiteral("B"), E; // E: the empty location
        const QString zurich = QStringLiteral("Zürich"), smile = QStringLiteral("Caf\u00e9 \U0001F600");
        QTest::newRow("CR LF ends a record, no empty one after the last")
            << QByteArray("A\r\nB\r\n") << QStringList{A, B};
        QTest::newRow("lone LF leaves an empty last location")
            << QByteArray("A\nB\n") << QStringList{A, B, E};
        QTest::newRow("no final line end") << QByteArray("A\nB") << QStringList{A, B};
        QTest::newRow("blank line between CR LFs") << QByteArray("A\r\n\r\nB") << QStringList{A, E, B};
        QTest::newRow("lone CRs") << QByteArray("A\rB\r") << QStringList{A, B};
        QTest::newRow("CR CR LF") << QByteArray("A\r\r\nB") << QStringList{A, E, B};
        QTest::newRow("LF CR is a split, then an end") << QByteArray("A\n\rB") << QStringList{A, E, B};
        QTest::newRow("mixed") << QByteArray("A\r\nB\rC\nD\n\nE\r\n")
                               << QStringList{
                                      A, B, QStringLiteral("C"), QStringLiteral("D"), E, QStringLiteral("E")};
        QTest::newRow("just LF") << QByteArray("\n") << QStringList{E, E};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("blanks and tabs kept")
            << QByteArray("  Haverhill MA  \r\n\tx\t\r\n")
            << QStringList{QStringLiteral("  Haverhill MA  "), QStringLiteral("\tx\t")};
        QTest::newRow("NUL kept as a character")
            << QByteArray("A\0B\r\n\0", 6)
            << QStringList{QString::fromUtf16(u"A\0B", 3), QString::fromUtf16(u"\0", 1)};
        QTest::newRow("UTF-8") << QByteArray("Z\xC3\xBCrich\r\n") << QStringList{zurich};
        QTest::newRow("UTF-8, four-byte character")
            << smile.toUtf8().append("\nx") << QStringList{smile, QStringLiteral("x")};
        QTest::newRow("UTF-8 mark dropped")
            << QByteArray("\xEF\xBB\xBFZ\xC3\xBCrich\r\nA") << QStringList{zurich, QStringLiteral("A")};
        QTest::newRow("UTF-16 LE") << utf16(zurich + QStringLiteral("\r\n") + smile + QStringLiteral("\r\n"),
                                            true)
                                   << QStringList{zurich, smile};
        QTest::newRow("UTF-16 BE") << utf16(zurich + QStringLiteral("\r\n") + smile, false)
                                   << QStringList{zurich, smile};
        QTest::newRow("Windows-1252") << QByteArray("Z\xFCrich\r\n\x80 5 \x93q\x94\r\n")
                                      << QStringList{zurich, QStringLiteral("€ 5 “q”")};
        // One byte that is not UTF-8 anywhere makes the whole file Windows-1252, even the
        // part before it that would have read as UTF-8.
        QTest::newRow("not UTF-8 at the end")
            << QByteArray("\xC3\xBC\r\n\xFC") << QStringList{QStringLiteral("Ã¼"), QStringLiteral("ü")};
        QTest::newRow("UTF-8 cut short at the end")
            << QByteArray("ok\r\n\xE2\x82")
            << QStringList{QStringLiteral("ok"), QStringLiteral("\u00E2\u201A")};
        QTest::newRow("overlong UTF-8 is not UTF-8")
            << QByteArray("\xC0\xAF") << QStringList{QStringLiteral("\u00C0\u00AF")};
        QTest::newRow("encoded surrogate is not UTF-8")
            << QByteArray("\xED\xA0\x80") << QStringList{QStringLiteral("í\u00A0€")};
        // Under a mark the encoding is settled; broken pieces become U+FFFD, the rest stays.
        QTest::newRow("broken UTF-8 under a mark")
            << QByteArray("\xEF\xBB\xBF"
                          "A\xFF"
                          "B\xE2\x82"
                          "C\r\n\xF0\x9F")
            << QStringList{QStringLiteral("A\uFFFDB\uFFFDC"), QStringLiteral("\uFFFD")};
        QTest::newRow("UTF-16 odd last byte") << QByteArray("\xFF\xFE"
                                                            "A\0B",
                                                            5)
                                              << QStringList{QStringLiteral("A\uFFFD")};
        QTest::newRow("UTF-16 lone surrogates")
            << QByteArray("\xFE\xFF\xD8\x3D\0A\xDC\0\0\r\xD8\x3D", 12)
            << QStringList{QStringLiteral("\uFFFDA\uFFFD"), QStringLiteral("\uFFFD")};
    }
    void reading()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        for (qsizetype chunk : Chunks)
            QCOMPARE(ListLocations(bytes, chunk), expected);
    }

    // A list file on disk whose reading fails at a given byte: the locations completed
    // before the failure are delivered, the broken-off one is not. Without a mark the whole
    // file is looked at first, and it is that look which meets the failure.
    void readFailureKeepsWhatWasRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("failAt");
        QTest::addColumn<QStringList>("expected");
        const QString A = QStringLiteral("A"), B = QStringLiteral("B");
        QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF"
                                                  "A\r\nB\r\nCC\r\nD")
                                    << qint64(10) << QStringList{A, B};
        QTest::newRow("no mark") << QByteArray("A\r\nB\r\nCC\r\nD") << qint64(7) << QStringList{A, B};
        QTest::newRow("no mark, fails at the first byte")
            << QByteArray("A\r\nB") << qint64(0) << QStringList{};
        // What follows the failure is never seen, so cannot turn the text into Windows-1252.
        QTest::newRow("no mark, UTF-8 before the failure")
            << QByteArray("Z\xC3\xBCrich\r\nB\r\n\xFC") << qint64(12)
            << QStringList{QStringLiteral("Zürich"), B};
        QTest::newRow("no mark, Windows-1252 before the failure")
            << QByteArray("Z\xFCrich\r\nB\r\nCC") << qint64(12) << QStringList{QStringLiteral("Zürich"), B};
        QTest::newRow("no mark, fails inside a character")
            << QByteArray("A\r\nZ\xC3\xBC") << qint64(5) << QStringList{A};
    }
    void readFailureKeepsWhatWasRead()
    {
        class FailingFile : public QFile
        {
        public:
            using QFile::QFile;
            qint64 failAt = 0;

        protected:
            qint64 readData(char* out, qint64 max) override
            {
                if (pos() >= failAt) {
                    setErrorString(QStringLiteral("Input/output error"));
                    return -1;
                }
                return QFile::readData(out, std::min(max, failAt - pos()));
            }
        };
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, failAt);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        }
        // A batch of one hands each location over at once; the program's size holds them back.
        for (qsizetype batch : {qsizetype(1), qsizetype(1 << 14)})
            for (qsizetype chunk : Chunks) {
                FailingFile file(path);
                file.failAt = failAt;
                QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
                QStringList got;
                QVERIFY_THROWS_EXCEPTION(
                    PlatformError, ReadListLocations(
                                       file, [&](QStringList&& part) { got.append(part); }, chunk, batch));
                QTEST(got, "expected");
            }
    }
};

QTEST_MAIN(TestListFile)
#include "test_listfile.moc"
