#pragma once

#include <cstdio>

// The console a headless run prints to (internal to the program's own code; console_posix.cpp and
// console_windows.cpp, one per platform).
namespace Console {

// Whether the stream is an interactive terminal (a console window on Windows), where a progress
// line may rewrite itself; a file, a pipe or the null device is none.
bool isTerminal(std::FILE* stream);

// Makes standard output and standard error reach the console the program was started from, where
// the platform does not already: a Windows program of the graphical subsystem has none of its own
// (Windows); nothing elsewhere. Redirected streams (a file, a pipe) stay as they are.
void attachToParent();

}  // namespace Console
