#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

// Notices of changes in one folder, so that a watch looks at the entries named rather than at the
// whole folder. Linux's inotify names each entry created, written, renamed or removed; Qt's
// QFileSystemWatcher (every platform) only says that the folder's list of entries changed. Where
// notices come from another machine's changes (a network share) they do not come at all, so
// notices never replace the watch's own polling unless complete() says they can.
class FolderNotices : public QObject {
    Q_OBJECT
public:
    enum class Source {
        Native,    // the platform's named notices (inotify on Linux); Portable elsewhere
        Portable,  // QFileSystemWatcher
        None,      // no notices: the watch polls, as it must on a network share
    };

    static std::unique_ptr<FolderNotices> create(Source source);

    // Watches the folder (anew, after another folder took its path); false when no notices come.
    virtual bool watch(const QString& folder) = 0;
    // Every change of the folder's entries and of their files reaches entriesChanged or
    // folderChanged: the folder is local and its notices name the entries.
    virtual bool complete() const { return false; }

signals:
    // These entries may have been created, written, renamed, replaced or removed.
    void entriesChanged(const QSet<QString>& names);
    // Anything in the folder may have changed (no names, or notices were lost): read it all again.
    void folderChanged();
};
