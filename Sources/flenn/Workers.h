#pragma once

#include <cstddef>
#include <functional>

// Runs body(i) for every i below count on at most `workers` threads at once. The workers share
// one counter, so jobs start in order and finish in any order.
void forEachConcurrently(std::size_t count, int workers, const std::function<void(std::size_t)> &body);
