#include "upload/folder_list.h"

#include "common/failure.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>

namespace {
constexpr int PathRole = Qt::UserRole;
}

FolderList::FolderList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemClicked, this, &FolderList::openEntry);
    connect(this, &QListWidget::itemActivated, this, &FolderList::openEntry);
    try {
        setPath(QDir::currentPath());
    } catch (const Failure&) {
        setPath(QDir::rootPath());
    }
}

QString FolderList::entryPath(const QListWidgetItem& item) { return item.data(PathRole).toString(); }

void FolderList::setPath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable())
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    const bool changed = absolute != m_path;
    m_path = absolute;
    fill();
    if (changed)
        emit pathChanged(m_path);
}

void FolderList::openEntry(QListWidgetItem* item)
{
    if (!item)
        return;
    const QString target = entryPath(*item);
    if (target == m_path)
        return;
    try {
        setPath(target);
    } catch (const Failure&) {
        // A folder that vanished or cannot be read: the list shows its folder again.
        fill();
    }
}

void FolderList::fill()
{
    clear();
    const QIcon closedIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
    // The chain of folders from the root down to the open one.
    QStringList chain;
    QDir dir(m_path);
    chain.prepend(dir.absolutePath());
    while (dir.cdUp())
        chain.prepend(dir.absolutePath());

    const QString indent(2, QLatin1Char(' '));
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? QDir::toNativeSeparators(folder) : QDir(folder).dirName();
        auto* item = new QListWidgetItem(closedIcon, indent.repeated(depth) + name, this);
        item->setData(PathRole, folder);
        current = item;
        ++depth;
    }
    const QStringList subfolders =
        QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : subfolders) {
        auto* item = new QListWidgetItem(closedIcon, indent.repeated(depth) + name, this);
        item->setData(PathRole, QDir(m_path).absoluteFilePath(name));
    }
    setCurrentItem(current);
}
