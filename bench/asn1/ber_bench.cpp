// BER encode and decode of a mid-size value of the deepest test type (one
// of the Erlang vectors), beside our aligned PER on the same value and
// Erlang/OTP's BER codec on the same octets (ber_bench.escript).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "asn1/coder_env.h"
#include "bench/asn1/rate.h"
#include "samples/asn1/per_test_types.h"
#include "samples/asn1/per_value_text.h"

namespace {

using namespace ASN1;

std::string const benchDir = BENCH_ASN1_DIR;
std::string const vectors = benchDir + "/../../tests/asn1/ber/ber_vectors.txt";

// A Deep value of about 440 BER octets.
struct Sample {
    std::string hex, text;
    std::vector<char> octets;
};

Sample const& sample()
{
    static Sample const s = [] {
        Sample out;
        std::ifstream in(vectors);
        std::string line, type, mode;
        for (int n = 1; std::getline(in, line); ++n)
            if (n == 573)
                std::istringstream(line) >> type >> mode >> out.hex >> out.text;
        out.octets = PerTest::fromHex(out.hex);
        return out;
    }();
    return s;
}

std::unique_ptr<AbstractData> value()
{
    auto v = PerTest::make("Deep");
    PerTest::build(*v, sample().text);
    return v;
}

CoderEnv env(CoderEnv::EncodingRules rule)
{
    CoderEnv e;
    e.set_encodingRule(rule);
    return e;
}

void encodeWith(benchmark::State& state, CoderEnv::EncodingRules rule)
{
    if (sample().hex.empty()) {
        state.SkipWithError(("no value at line 573 of " + vectors).c_str());
        return;
    }
    auto v = value();
    CoderEnv e = env(rule);
    std::vector<char> out;
    for (auto _ : state) {
        out.clear();
        if (!e.encode(*v, std::back_inserter(out)))
            state.SkipWithError("encode failed");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["octets"] = double(out.size());
}

void decodeWith(benchmark::State& state, CoderEnv::EncodingRules rule)
{
    if (sample().hex.empty()) {
        state.SkipWithError(("no value at line 573 of " + vectors).c_str());
        return;
    }
    auto v = value();
    CoderEnv e = env(rule);
    std::vector<char> in;
    e.encode(*v, std::back_inserter(in));
    for (auto _ : state) {
        auto fresh = PerTest::make("Deep");
        if (!e.decode(in.data(), in.data() + in.size(), *fresh, true))
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BerEncode(benchmark::State& state) { encodeWith(state, CoderEnv::ber); }
void BM_BerDecode(benchmark::State& state) { decodeWith(state, CoderEnv::ber); }
void BM_PerEncodeSameValue(benchmark::State& state) { encodeWith(state, CoderEnv::per_Aligned); }
void BM_PerDecodeSameValue(benchmark::State& state) { decodeWith(state, CoderEnv::per_Aligned); }
void BM_AvnPrintSameValue(benchmark::State& state) { encodeWith(state, CoderEnv::avn); }
void BM_AvnParseSameValue(benchmark::State& state) { decodeWith(state, CoderEnv::avn); }
BENCHMARK(BM_BerEncode);
BENCHMARK(BM_BerDecode);
BENCHMARK(BM_PerEncodeSameValue);
BENCHMARK(BM_PerDecodeSameValue);
BENCHMARK(BM_AvnPrintSameValue);
BENCHMARK(BM_AvnParseSameValue);


// Erlang's BER codec and ours on the same octets in the same run; the
// ratios are ours over Erlang's.
void BM_BerVersusErlang(benchmark::State& state)
{
    long const count = 20000;
    for (auto _ : state) {
        std::string const command = "escript " + benchDir + "/ber_bench.escript Deep " + sample().hex + " " +
                                    std::to_string(count) + " 2>/dev/null";
        FILE* p = popen(command.c_str(), "r");
        if (!p) {
            state.SkipWithError("escript did not start");
            return;
        }
        double erlEncode = 0, erlDecode = 0;
        int const got = std::fscanf(p, "encode %lf decode %lf", &erlEncode, &erlDecode);
        pclose(p);
        if (got != 2 || erlEncode <= 0 || erlDecode <= 0) {
            state.SkipWithError("no rates from escript (erlang-asn1 installed?)");
            return;
        }
        auto v = value();
        CoderEnv e = env(CoderEnv::ber);
        std::vector<char> out;
        double const ourEncode = ratePerSecond([&] {
            out.clear();
            e.encode(*v, std::back_inserter(out));
        }, count * 5);
        if (out != sample().octets) {
            state.SkipWithError("Erlang and we encode the value differently");
            return;
        }
        double const ourDecode = ratePerSecond([&] {
            auto fresh = PerTest::make("Deep");
            e.decode(out.data(), out.data() + out.size(), *fresh, true);
        }, count * 5);
        setRateCounters(state, erlEncode, erlDecode, ourEncode, ourDecode);
    }
}
BENCHMARK(BM_BerVersusErlang)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
