#pragma once
// Windows only. The program is a window program there, which gets no console of its own; run from a
// console (--help, --headless, the store commands), it writes to that console and reads from it.

namespace tandrel {

// Attaches to the console of the process that started this one, unless the standard handles already lead
// somewhere (a pipe or a file: then they are kept). Does nothing when there is no such console.
void AttachParentConsole();

}  // namespace tandrel
