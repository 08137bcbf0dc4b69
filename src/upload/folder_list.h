#pragma once

#include <QListWidget>
#include <QString>

// The classic folder list: the chain of open folders from the drive's root down to the open
// folder, then the open folder's subfolders, each entry (icon and name) indented by its depth.
// A single click (or Enter) on an entry opens it.
class FolderList final : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);

    // The open folder, absolute, with '/' separators.
    QString path() const { return m_path; }
    // Opens a folder; a path that is no readable folder raises path not found (76) and keeps
    // the folder that was open.
    void setPath(const QString& path);
    // The folder an entry stands for.
    static QString entryPath(const QListWidgetItem& item);

signals:
    void pathChanged(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void openEntry(QListWidgetItem* item);
    void fill();
    void scrollToOpenFolder();

    QString m_path;
    QListWidgetItem* m_openEntry = nullptr;
};
