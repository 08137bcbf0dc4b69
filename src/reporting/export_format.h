#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace reporting {

class ReportDocument;

// A format the report can be saved in besides PDF, offered in the viewer by whoever knows the
// report's rows (ReportViewer::addExport).
struct ExportFormat {
    QString caption;      // the toolbar action's text, "Exportar a CSV…"
    QString dialogTitle;  // the save dialog's title
    QString filter;       // the save dialog's file filter
    QString suffix;       // of the proposed file name, the report's title: ".csv"
    std::function<QByteArray(const ReportDocument&)> contents;  // the file's bytes for the finished report
};

}  // namespace reporting
