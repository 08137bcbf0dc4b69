#pragma once

// Internal to src/db: bounds the time one call to a database server may take.

#include <QList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace db::detail {

// A socket of a connection, named by its descriptor and its inode, so that a descriptor the
// driver has closed and the system has given to something else is never touched.
struct SocketId {
    int descriptor = -1;
    unsigned long inode = 0;
    bool operator==(const SocketId&) const = default;
};

// The sockets this process has open now (Linux: /proc/self/fd); empty where the platform does not
// list them (Windows). server_sockets_linux.cpp, server_sockets_windows.cpp.
QList<SocketId> openSockets();
// The socket of a descriptor a driver names (libpq's), or an invalid one (-1) where it is none.
SocketId socketOf(int descriptor);
// Shuts the socket down for reading and writing, if it is still the one named.
void shutDown(const SocketId& socket);

// A thread that shuts the connection's sockets down when a call armed on it outlives its limit:
// the driver's blocking wait then returns with a lost connection instead of waiting for ever for
// a server that stopped answering. Sockets shut down stay so: the connection is dead afterwards.
class ServerWatchdog final {
public:
    ServerWatchdog(QList<SocketId> sockets, std::chrono::milliseconds limit);
    // Sockets known only when the limit is reached (those a driver opened while connecting).
    ServerWatchdog(std::function<QList<SocketId>()> sockets, std::chrono::milliseconds limit);
    ~ServerWatchdog();
    ServerWatchdog(const ServerWatchdog&) = delete;
    ServerWatchdog& operator=(const ServerWatchdog&) = delete;

    void setLimit(std::chrono::milliseconds limit);
    std::chrono::milliseconds limit() const;
    void arm();
    void disarm();
    // Whether a call outlived its limit and the connection was cut.
    bool fired() const;

private:
    void watch();

    std::function<QList<SocketId>()> m_sockets;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::milliseconds m_limit;
    std::chrono::steady_clock::time_point m_deadline{};
    bool m_armed = false;
    bool m_fired = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace db::detail
