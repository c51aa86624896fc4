#pragma once
// Every allocation of the benchmark program goes through a counting operator new, so a benchmark can report
// the bytes a piece of code holds at its peak and the bytes it asks for in all.

#include <cstddef>

namespace bench {

struct AllocFigures {
    std::size_t live = 0;   // bytes held now
    std::size_t peak = 0;   // most bytes held since the last ResetPeak
    std::size_t total = 0;  // bytes asked for since the program started
};

AllocFigures Allocations();
// Starts a new peak at the bytes held now.
void ResetPeak();

}  // namespace bench
