#include "upload/terminal_progress.h"

#include "common/console.h"

#include <QCoreApplication>

namespace {

constexpr qint64 IntervalMs = 250;

}  // namespace

TerminalProgress::TerminalProgress(std::FILE* stream, bool enabled)
    : m_stream(stream), m_enabled(enabled && Console::isTerminal(stream))
{
    m_clock.start();
}

TerminalProgress::~TerminalProgress() { finish(); }

QString TerminalProgress::line(int done, int total, int photos, qint64 elapsedMs)
{
    const double seconds = elapsedMs / 1000.0;
    QString text = QCoreApplication::translate("TerminalProgress", "%1 de %2 archivos").arg(done).arg(total);
    if (seconds >= 0.5) {
        text += QCoreApplication::translate("TerminalProgress", ", %1 fotos/s").arg(photos / seconds, 0, 'f', 1);
        if (done > 0 && done < total) {
            const qint64 left = qint64((total - done) * seconds / done + 0.5);
            text += QCoreApplication::translate("TerminalProgress", ", quedan %1:%2")
                        .arg(left / 60)
                        .arg(left % 60, 2, 10, QLatin1Char('0'));
        }
    }
    return text;
}

void TerminalProgress::update(int done, int total, int photos)
{
    if (!m_enabled)
        return;
    const qint64 now = m_clock.elapsed();
    if (now - m_lastShownMs < IntervalMs && done < total)
        return;
    m_lastShownMs = now;
    const QString text = line(done, total, photos, now);
    // Blanks over what a longer line before left.
    const QByteArray bytes = (QLatin1Char('\r') + text + QString(qMax<qsizetype>(0, m_lastWidth - text.size()), QLatin1Char(' ')))
                                 .toLocal8Bit();
    m_lastWidth = text.size();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

void TerminalProgress::finish()
{
    if (!m_enabled || m_lastWidth == 0)
        return;
    const QByteArray clear = '\r' + QByteArray(m_lastWidth, ' ') + '\r';
    std::fwrite(clear.constData(), 1, size_t(clear.size()), m_stream);
    std::fflush(m_stream);
    m_lastWidth = 0;
}
