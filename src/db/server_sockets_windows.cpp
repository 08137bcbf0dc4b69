// Windows lists no process's sockets: only libpq's own socket, which it names, is watched; the
// ODBC drivers' calls end by their own time-outs.
#include "db/server_watchdog.h"

#include <winsock2.h>

namespace db::detail {

QList<SocketId> openSockets() { return {}; }

// The socket stays libpq's until the connection closes, which ends the watchdog first: the
// handle cannot have been given to anything else while it is watched.
SocketId socketOf(int descriptor) { return descriptor < 0 ? SocketId{} : SocketId{descriptor, 0}; }

void shutDown(const SocketId& socket)
{
    if (socket.descriptor >= 0)
        ::shutdown(static_cast<SOCKET>(socket.descriptor), SD_BOTH);
}

}  // namespace db::detail
