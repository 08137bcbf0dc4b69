#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// A run's progress as one line on a terminal, rewritten a few times a second: files done of the
// total, photos per second and the time left. Writes nothing when the stream is no terminal or the
// user asked for quiet.
class TerminalProgress final {
public:
    TerminalProgress(std::FILE* stream, bool enabled);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // done of total files handled, photos of them examined so far.
    void update(int done, int total, int photos);
    // Clears the line, so that what follows starts on a clean one.
    void finish();

    // The line for these figures after elapsedMs (for tests and for update()).
    static QString line(int done, int total, int photos, qint64 elapsedMs);

private:
    std::FILE* m_stream;
    bool m_enabled;
    QElapsedTimer m_clock;
    qint64 m_lastShownMs = -1000;
    qsizetype m_lastWidth = 0;
};
