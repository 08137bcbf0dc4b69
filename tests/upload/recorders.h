#pragma once

#include "upload/run_report.h"
#include "upload/upload_progress.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a run handed its report.
class RecordingRunReport final : public RunReport {
public:
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override
    {
        opened.append({reportFile, condition, caption});
        dataSources.append(dataSource);
    }
    QStringList dataSources;
    QList<QStringList> opened;
};

// A progress bar that remembers every move.
class RecordingProgress final : public UploadProgress {
public:
    void setMaximum(int maximum) override { maximums.append(maximum); }
    int value() const override { return m_value; }
    void setValue(int value) override
    {
        m_value = value;
        moves.append(value);
    }
    QList<int> maximums;
    QList<int> moves;

private:
    int m_value = 0;
};
