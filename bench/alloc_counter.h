#pragma once
// The benchmark program's operator new counts while a Counting object lives, so a benchmark can report the
// bytes a piece of code holds at its peak and the bytes it asks for in all. Outside, it costs one test, so
// the speed pairs are not slowed by the counting.

#include <cstddef>

namespace bench {

struct AllocFigures {
    std::size_t live = 0;   // bytes held now
    std::size_t peak = 0;   // most bytes held since the last ResetPeak
    std::size_t total = 0;  // bytes asked for since the program started
};

// Counts from zero while it lives. Only blocks both taken and given back in its lifetime must be freed in it.
class Counting {
  public:
    Counting();
    ~Counting();
    Counting(const Counting&) = delete;
    Counting& operator=(const Counting&) = delete;
    AllocFigures Figures() const;
};

}  // namespace bench
