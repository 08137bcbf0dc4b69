#include "common/console.h"

#include <unistd.h>

namespace Console {

bool isTerminal(std::FILE* stream) { return stream && ::isatty(::fileno(stream)); }

// A program started from a terminal writes to it already.
void attachToParent() {}

}  // namespace Console
