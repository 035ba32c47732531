// Input sizes and counters shared by the benchmark programs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

namespace qorbench {

// 1 KiB, 16 KiB and 1 MiB: small enough to sit in L1, in L2, and well beyond.
// Linearity shows as the same bytes per second at every size (bench/tables.py
// puts the ratio in its tables); the library's complexity fit is not used, as
// it crashes on a family whose runs stopped with an error.
inline void inputSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1 << 10)->Arg(16 << 10)->Arg(1 << 20);
}

// Bytes per second over the input actually parsed (which may differ a little
// from the requested size, since inputs are whole messages or records).
inline void countBytes(benchmark::State& state, size_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytesPerIteration));
    state.counters["input_bytes"] = static_cast<double>(bytesPerIteration);
}

// How many different inputs of one size a benchmark cycles through: about
// 4 MiB in all, at most 256. Parsing the same few bytes again and again lets
// the branch predictor learn them, which flatters byte-by-byte parsers at the
// small sizes; a real run sees each input once.
inline size_t poolCount(size_t bytes) {
    size_t n = (size_t{4} << 20) / (bytes ? bytes : 1);
    return n < 1 ? 1 : n > 256 ? 256 : n;
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
