#pragma once

#include <cstdint>
#include <random>

// The program's pseudo-random generator, from which each upload run draws its run number.
// Start-up seeds it so that every start gives a different sequence; tests seed it with a number.
class RunNumberGenerator final {
public:
    explicit RunNumberGenerator(uint64_t seed = 0) { this->seed(seed); }

    void seed(uint64_t seed);
    // From the clock, the process id and the system's entropy source.
    void seedFromTimer();

    // A single-precision fraction, 0 <= r < 1.
    double next();
    // A whole number from 1 to 999999: Int(r * 999999 + 1).
    int32_t drawRunNumber() { return runNumberFor(next()); }
    static int32_t runNumberFor(double fraction);

    // The one generator the program uses.
    static RunNumberGenerator& program();

private:
    std::mt19937 m_engine;
};
