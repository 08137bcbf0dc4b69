#include "common/folder_files.h"

#include "common/failure.h"
#include "common/platform.h"

#include <QFileInfo>

namespace FolderFiles {

QString Folder::filePath(const QString& name) const
{
    const QChar separator = Application::pathSeparator();
    // A drive root already ends with the separator.
    if (m_path.endsWith(separator) || m_path.endsWith(QLatin1Char('/')))
        return m_path + name;
    return m_path + separator + name;
}

QStringList fileNames(const QString& folder)
{
    try {
        return Folder(folder).fileNames();
    } catch (const Failure&) {
        return {};
    }
}

FileBytes readRegularFile(const QString& path, qint64 limit)
{
    const QFileInfo info(path);
    return Folder(info.absolutePath()).readRegularFile(info.fileName(), limit);
}

}  // namespace FolderFiles
