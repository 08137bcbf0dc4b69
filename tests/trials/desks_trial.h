#pragma once

#include "trial_support.h"

namespace trials {

// Desks that upload at once to one database, each its own folder with the program of its own
// installation: on PostgreSQL eight desks of six installations, two of them with two desks whose
// members overlap by half; on SQLite two desks of one installation on one file, overlapping the
// same way. Photos per desk: photos. Checks that no photo is lost (a member of two desks keeps
// one of their two photos), no key holds two rows, no two runs share a number, every run's log
// and its report (as CSV) list exactly the files that run met, and that a run that met another
// desk's row for the same member at the same moment ended with the program's lock or key failure
// and completes when run again.
Tally desksTrial(const QString& program, Engine engine, const Server* server, int photos, QRandomGenerator random);

}  // namespace trials
