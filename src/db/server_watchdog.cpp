#include "db/server_watchdog.h"

namespace db::detail {

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
        for (const SocketId& socket : m_sockets())
            shutDown(socket);
    }
}

}  // namespace db::detail
