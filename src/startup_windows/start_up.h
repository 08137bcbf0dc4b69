#pragma once

#include <functional>

namespace ModGlob {

// Opens the connection, shows the splash for a little more than two seconds, seeds the run-number
// generator, then calls showMainWindow, which creates and shows the upload window.
// A start-up failure throws ProgramEnd before any window is shown.
void StartUp(const std::function<void()>& showMainWindow);

}  // namespace ModGlob
