#include "upload/folder_list.h"

#include "common/failure.h"

#include <QDir>
#include <QFileInfo>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int DepthRole = Qt::UserRole + 1;

// Indents a whole entry, its folder icon included, by its depth in the chain.
class IndentingDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static int indentOf(const QModelIndex& index, const QStyleOptionViewItem& option)
    {
        return index.data(DepthRole).toInt() * option.decorationSize.width() * 3 / 4;
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() + indentOf(index, option));
        QStyledItemDelegate::paint(painter, indented, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indentOf(index, option), 0);
    }
};

}  // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new IndentingDelegate(this));
    const int iconSide = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    setIconSize(QSize(iconSide, iconSide));
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
    m_openEntry = nullptr;
    clear();
    // Open folders from the root down to the open one, then its subfolders, closed.
    QStringList chain;
    QDir dir(m_path);
    chain.prepend(dir.absolutePath());
    while (dir.cdUp())
        chain.prepend(dir.absolutePath());

    const auto addEntry = [this](const QIcon& icon, const QString& text, const QString& path, int depth) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(PathRole, path);
        item->setData(DepthRole, depth);
        item->setToolTip(QDir::toNativeSeparators(path));
        return item;
    };
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon, nullptr, this);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon, nullptr, this);
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& folder : chain) {
        const QString name = depth == 0 ? QDir::toNativeSeparators(folder) : QDir(folder).dirName();
        current = addEntry(openIcon, name, folder, depth++);
    }
    const QStringList subfolders =
        QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : subfolders)
        addEntry(closedIcon, name, QDir(m_path).absoluteFilePath(name), depth);
    m_openEntry = current;
    setCurrentItem(current);
    scrollToOpenFolder();
}

void FolderList::scrollToOpenFolder()
{
    if (!m_openEntry)
        return;
    // From the root when the open folder fits below it; else the open folder in the middle, with
    // its subfolders in view.
    scrollToTop();
    if (!viewport()->rect().contains(visualItemRect(m_openEntry)))
        scrollToItem(m_openEntry, QAbstractItemView::PositionAtCenter);
}

void FolderList::resizeEvent(QResizeEvent* event)
{
    QListWidget::resizeEvent(event);
    scrollToOpenFolder();
}
