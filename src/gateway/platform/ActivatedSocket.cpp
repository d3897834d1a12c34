#include "ActivatedSocket.h"

#include <QByteArray>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ActivatedSocket {

#ifdef Q_OS_UNIX

// The service manager's protocol: LISTEN_PID names this process and LISTEN_FDS counts the
// sockets, which start at descriptor 3.
qintptr take(QString* error)
{
    const QByteArray pid = qgetenv("LISTEN_PID");
    const QByteArray count = qgetenv("LISTEN_FDS");
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
    if (pid.isEmpty() || count.isEmpty()) {
        return -1;
    }
    bool ok = false;
    if (pid.toLongLong(&ok) != static_cast<long long>(::getpid()) || !ok) {
        return -1; // meant for the process that started this one
    }
    const int n = count.toInt(&ok);
    if (!ok || n < 1) {
        return -1;
    }
    if (n > 1) {
        *error = QStringLiteral("%1 sockets were handed over; the gateway takes one").arg(n);
        return -1;
    }
    constexpr int descriptor = 3;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening) {
        *error = QStringLiteral("the socket handed over is not a listening socket");
        return -1;
    }
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return descriptor;
}

#else

qintptr take(QString*)
{
    return -1;
}

#endif

} // namespace ActivatedSocket
