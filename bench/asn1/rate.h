#pragma once
// Calls per second of f, after a tenth of the count as warm-up; for the
// side-by-side runs beside Erlang, which measures the same way.
#include <chrono>

#include <benchmark/benchmark.h>

template <class F>
double ratePerSecond(F f, long count)
{
    for (long i = 0; i < count / 10; ++i)
        f();
    auto const t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        f();
    std::chrono::duration<double> const d = std::chrono::steady_clock::now() - t0;
    return double(count) / d.count();
}

// Erlang's rates and ours side by side; the ratios are ours over Erlang's.
inline void setRateCounters(benchmark::State& state, double erlEncode, double erlDecode, double ourEncode,
                            double ourDecode)
{
    state.counters["erlang_encode_per_s"] = erlEncode;
    state.counters["erlang_decode_per_s"] = erlDecode;
    state.counters["our_encode_per_s"] = ourEncode;
    state.counters["our_decode_per_s"] = ourDecode;
    state.counters["encode_ratio"] = ourEncode / erlEncode;
    state.counters["decode_ratio"] = ourDecode / erlDecode;
}
