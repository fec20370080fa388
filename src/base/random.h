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

/// A fixed-seed generator: start-up does not seed it from the clock.
class DefaultRandom final : public Random {
public:
    explicit DefaultRandom(std::uint64_t seed = 0x5DEECE66DULL) : m_state(seed) {}
    double next() override;

private:
    std::uint64_t m_state;
};

}  // namespace parlix
