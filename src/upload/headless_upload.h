#pragma once

#include <QStringList>

class QTextStream;

// `retratix --upload FOLDER [--pdf FILE]`: one upload run with no window, for the configured
// installation. Messages go to standard error, a one-line summary to standard output.
namespace HeadlessUpload {

// Whether the command line asks for a headless run.
bool requested(int argc, char** argv);

// Connects as start-up does (a failure throws ProgramEnd), runs the upload and writes the
// report as PDF when asked. Returns the exit status: 0 when the run completed, 1 when it failed,
// 2 when the folder does not exist or the command line is wrong.
// A failed run names, on standard error, the file it was at.
int run(const QStringList& arguments);
int run(const QStringList& arguments, QTextStream& out, QTextStream& err);

}  // namespace HeadlessUpload
