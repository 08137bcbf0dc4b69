#pragma once

#include "trial_support.h"

#include <functional>

namespace trials {

struct PrivilegedScale {
    int photos;      // regular photos beside each attack's own entries
    int swapPhotos;  // photos of a run whose originals folder the attacker swaps
    int swapRounds;  // such runs per engine
};

// The upload and the watch run as root, as systemd units run them, over a photo folder that an
// ordinary account owns and fills; that account tries to make them read, create or change anything
// outside the folder, store what is not a photo, or forge what they print (the attacks are listed
// in privileged_trial.cpp). Attacks that hardly depend on the engine run on SQLite only; the others
// on every engine given. Each attack's tally goes to report as it ends, then a line with the attacks
// tried and those that got anything. Without root, says that it needs root and tries nothing.
void privilegedTrial(const QString& program, const QList<Engine>& engines, const Server* server,
                     const PrivilegedScale& scale, QRandomGenerator random,
                     const std::function<void(const Tally&)>& report);

// What the line of a trial skipped for want of root says.
inline constexpr char NeedsRoot[] = "skipped: needs root";

}  // namespace trials
