#pragma once

#include <QPageLayout>
#include <QString>

class QPagedPaintDevice;

namespace reporting {

class ReportDocument;

// The paper of a report with no margins of the device's own: the report's margins are in its layout.
QPageLayout pageLayoutOf(const ReportDocument& document);
// Paints pages from..to (0-based, inclusive) on a printer or PDF writer whose painting starts at
// the paper's corner; raises Failure ReportNotWritten when the device cannot be painted on.
void writePages(const ReportDocument& document, QPagedPaintDevice& device, int from, int to);
// Writes every page of a finished document as a PDF file, whole or not at all and never through a
// link at the name (SafeOutput); raises Failure ReportNotWritten naming the file and why.
void writePdf(const ReportDocument& document, const QString& path);

}  // namespace reporting
