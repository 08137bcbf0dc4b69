#include "db/server_watchdog.h"

#include <QDir>

#include <sys/socket.h>
#include <sys/stat.h>

namespace db::detail {

QList<SocketId> openSockets()
{
    QList<SocketId> sockets;
    const QStringList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : descriptors) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat st {};
        if (ok && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
            sockets.append({fd, static_cast<unsigned long>(st.st_ino)});
    }
    return sockets;
}

SocketId socketOf(int descriptor)
{
    struct stat st {};
    if (descriptor < 0 || ::fstat(descriptor, &st) != 0 || !S_ISSOCK(st.st_mode))
        return {};
    return {descriptor, static_cast<unsigned long>(st.st_ino)};
}

void shutDown(const SocketId& socket)
{
    struct stat st {};
    if (::fstat(socket.descriptor, &st) == 0 && S_ISSOCK(st.st_mode) &&
        static_cast<unsigned long>(st.st_ino) == socket.inode)
        ::shutdown(socket.descriptor, SHUT_RDWR);
}

}  // namespace db::detail
