#include "run_number_generator.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cmath>

void RunNumberGenerator::seed(uint64_t seed)
{
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
    m_engine.seed(sequence);
}

void RunNumberGenerator::seedFromTimer()
{
    // Two starts within one clock tick still differ by process id and entropy.
    const auto now = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
    const auto pid = static_cast<uint64_t>(QCoreApplication::applicationPid());
    std::random_device entropy;
    std::seed_seq sequence{static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32),
                           static_cast<uint32_t>(pid), entropy(), entropy()};
    m_engine.seed(sequence);
}

double RunNumberGenerator::next()
{
    // 24 random bits: every value is exact in single precision and stays below 1.
    constexpr uint32_t Bits = 24;
    const uint32_t drawn = m_engine() >> (32 - Bits);
    return static_cast<double>(drawn) / static_cast<double>(1u << Bits);
}

int32_t RunNumberGenerator::runNumberFor(double fraction)
{
    return static_cast<int32_t>(std::floor(fraction * 999999.0 + 1.0));
}

RunNumberGenerator& RunNumberGenerator::program()
{
    static RunNumberGenerator generator;
    return generator;
}
