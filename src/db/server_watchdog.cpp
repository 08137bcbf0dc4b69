#include "db/server_watchdog.h"

#include <QDir>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/stat.h>
#endif

namespace db::detail {

QList<SocketId> openSockets()
{
    QList<SocketId> sockets;
#ifdef Q_OS_LINUX
    const QStringList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : descriptors) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat st {};
        if (ok && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
            sockets.append({fd, static_cast<unsigned long>(st.st_ino)});
    }
#endif
    return sockets;
}

ServerWatchdog::ServerWatchdog(QList<SocketId> sockets, std::chrono::milliseconds limit)
    : m_limit(limit)
{
    if (sockets.isEmpty())
        return;
    m_sockets = [sockets = std::move(sockets)] { return sockets; };
    m_thread = std::thread([this] { watch(); });
}

ServerWatchdog::ServerWatchdog(std::function<QList<SocketId>()> sockets, std::chrono::milliseconds limit)
    : m_sockets(std::move(sockets)), m_limit(limit)
{
    m_thread = std::thread([this] { watch(); });
}

ServerWatchdog::~ServerWatchdog()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void ServerWatchdog::setLimit(std::chrono::milliseconds limit)
{
    const std::lock_guard lock(m_mutex);
    m_limit = limit;
}

std::chrono::milliseconds ServerWatchdog::limit() const
{
    const std::lock_guard lock(m_mutex);
    return m_limit;
}

void ServerWatchdog::arm()
{
    {
        const std::lock_guard lock(m_mutex);
        // 0 waits without limit, as a command time-out of 0 does.
        m_armed = m_limit.count() > 0;
        m_deadline = std::chrono::steady_clock::now() + m_limit;
    }
    m_wake.notify_one();
}

void ServerWatchdog::disarm()
{
    {
        const std::lock_guard lock(m_mutex);
        m_armed = false;
    }
    m_wake.notify_one();
}

bool ServerWatchdog::fired() const
{
    const std::lock_guard lock(m_mutex);
    return m_fired;
}

void ServerWatchdog::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (!m_armed) {
            m_wake.wait(lock);
            continue;
        }
        if (m_wake.wait_until(lock, m_deadline) != std::cv_status::timeout)
            continue;  // disarmed, re-armed or stopping: look again
        if (!m_armed || std::chrono::steady_clock::now() < m_deadline)
            continue;
        m_fired = true;
        m_armed = false;
#ifdef Q_OS_LINUX
        for (const SocketId& socket : m_sockets()) {
            struct stat st {};
            if (::fstat(socket.descriptor, &st) == 0 && S_ISSOCK(st.st_mode) &&
                static_cast<unsigned long>(st.st_ino) == socket.inode)
                ::shutdown(socket.descriptor, SHUT_RDWR);
        }
#endif
    }
}

}  // namespace db::detail
