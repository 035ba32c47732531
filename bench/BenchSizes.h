// Input sizes and counters shared by the benchmark programs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

namespace qorbench {

// 1 KiB, 16 KiB and 1 MiB: small enough to sit in L1, in L2, and well beyond.
inline void inputSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1 << 10)->Arg(16 << 10)->Arg(1 << 20);
    b->Complexity(benchmark::oN);
}

// Bytes per second over the input actually parsed (which may differ a little
// from the requested size, since inputs are whole messages or records).
inline void countBytes(benchmark::State& state, size_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytesPerIteration));
    state.SetComplexityN(static_cast<int64_t>(bytesPerIteration));
    state.counters["input_bytes"] = static_cast<double>(bytesPerIteration);
}

// A small deterministic generator, so every run parses the same inputs.
class Lcg {
  public:
    explicit Lcg(uint32_t seed) : m_State(seed) {}
    uint32_t next() {
        m_State = m_State * 1664525u + 1013904223u;
        return m_State >> 8;
    }
    uint32_t below(uint32_t bound) { return next() % bound; }

  private:
    uint32_t m_State;
};

}  // namespace qorbench
