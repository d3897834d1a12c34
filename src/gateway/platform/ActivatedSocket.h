#pragma once

#include <QString>
#include <QtGlobal>

// A listening socket the gateway was started with, when its starter (a service manager that
// starts programs on the first connection) handed one over. The one place that knows how a
// system hands sockets over.
namespace ActivatedSocket {

// The socket's descriptor, or -1 when none was handed to this process. Takes it: the hand-over
// is forgotten, so programs this one starts do not see it. When something was handed over but
// is not usable, error says why (and -1 is returned).
qintptr take(QString* error);

} // namespace ActivatedSocket
