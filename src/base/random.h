#pragma once

#include <cstdint>

namespace parlix {

/// The program's one pseudo-random generator.
class Random {
public:
    virtual ~Random() = default;
    /// The next fraction in [0, 1).
    virtual double next() = 0;
};

/// A splitmix64 generator over the seed it is given. The programs seed it once from the system's
/// entropy source, so installations differ; tests give a seed of their own.
class DefaultRandom final : public Random {
public:
    explicit DefaultRandom(std::uint64_t seed = 0x5DEECE66DULL) : m_state(seed) {}
    double next() override;

private:
    std::uint64_t m_state;
};

}  // namespace parlix
