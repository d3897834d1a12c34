#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>

// One request written as raw bytes, and the answer read until the server closes the
// connection, with the event loop running meanwhile (so an in-process server can answer).
struct RawAnswer
{
    QByteArray statusLine;
    QByteArray head;
    QByteArray body;
    bool closed = false;
    qint64 ms = 0;

    int status() const { return statusLine.mid(9, 3).toInt(); }
    QByteArray reason() const { return statusLine.mid(13); }
};

inline RawAnswer rawExchange(quint16 port, const QByteArray& bytes, int timeoutMs = 5000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    RawAnswer out;
    QElapsedTimer clock;
    clock.start();
    QByteArray all;
    bool written = false;
    // The server may answer and close before the request is even sent (e.g. when full).
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        socket.write(bytes);
        written = true;
    });
    while (clock.elapsed() < timeoutMs) {
        QTest::qWait(2);
        all += socket.readAll();
        if (written && socket.state() == QAbstractSocket::UnconnectedState) {
            out.closed = true;
            break;
        }
    }
    all += socket.readAll();
    out.ms = clock.elapsed();
    const qsizetype end = all.indexOf("\r\n\r\n");
    out.head = all.left(end);
    out.statusLine = all.left(all.indexOf("\r\n"));
    out.body = end < 0 ? QByteArray() : all.mid(end + 4);
    return out;
}

// A GET of target with the Host a client of the gateway sends, and any more header lines.
inline RawAnswer rawGet(quint16 port, const QByteArray& target, const QByteArray& moreHeaders = {},
                        int timeoutMs = 5000)
{
    return rawExchange(port,
                       "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" +
                           moreHeaders + "\r\n",
                       timeoutMs);
}

// Leaves as a client that is gone for good does: a reset, not the end of its sending (after
// which it might still read an answer).
inline void resetConnection(QTcpSocket& socket)
{
    const linger now{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    socket.abort();
}

// The picture's address (path and query, token included) as the gateway's page gives it.
inline QByteArray pictureAddress(quint16 port, const QByteArray& search)
{
    const RawAnswer page = rawGet(port, "/maps?q=" + search);
    const qsizetype at = page.body.indexOf("/mapdata?");
    return at < 0 ? QByteArray() : page.body.mid(at, page.body.indexOf(' ', at) - at);
}
