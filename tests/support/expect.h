#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace parlix::test {

/// Checks a flat list of pairs: each result, then the text it must be.
inline void expectPairs(const std::vector<std::string>& pairs) {
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
        EXPECT_EQ(pairs[i], pairs[i + 1]) << "pair " << i / 2;
    }
}

}  // namespace parlix::test
