// R2S header extensions encoded and decoded per second: the bare header
// (the keep-alive) and a header with features, in the RX form the gateway
// sends and the TX form it receives.
#include "rtp/r2s_codec.h"

#include <benchmark/benchmark.h>

namespace {

r2s_proto Record(bool rx, bool features)
{
    r2s_proto r;
    r2s_proto_init(&r, rx ? kR2sRx : kR2sTx);
    if (rx) {
        r2s_proto_set_rx_header(&r, 1, 1, 42, 0, 1, 0);
        if (features) {
            r2s_proto_add_rx_sqi(&r, 17, 2);
            r2s_proto_rx_additional_mam mam{1, 0x010203, 0, 0x040506, 6, 7, 8};
            r2s_proto_add_rx_mam(&r, &mam);
        }
    } else {
        r2s_proto_set_tx_header(&r, 1, 42, 0, 1);
        if (features) {
            r2s_proto_tx_additional_climax_time_delay delay{7};
            r2s_proto_add_tx_time_delay(&r, &delay);
            r2s_proto_tx_additional_rrm rrm{1, 0x010203};
            r2s_proto_add_tx_rrm(&r, &rrm);
        }
    }
    return r;
}

// Arguments: RX form (1) or TX (0), features (1) or none (0).
void BM_R2sPack(benchmark::State& state)
{
    r2s_proto r = Record(state.range(0), state.range(1));
    unsigned char wire[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(r2s_proto_pack(&r, wire, sizeof wire));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_R2sUnpack(benchmark::State& state)
{
    bool rx = state.range(0);
    r2s_proto r = Record(rx, state.range(1));
    unsigned char wire[1024];
    size_t n = static_cast<size_t>(r2s_proto_pack(&r, wire, sizeof wire));
    r2s_proto got;
    for (auto _ : state) {
        r2s_proto_init(&got, 0);
        benchmark::DoNotOptimize(rx ? r2s_proto_unpack_rx(&got, wire, n) : r2s_proto_unpack_tx(&got, wire, n));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_R2sPack)->ArgsProduct({{1, 0}, {0, 1}})->ArgNames({"rx", "features"});
BENCHMARK(BM_R2sUnpack)->ArgsProduct({{1, 0}, {0, 1}})->ArgNames({"rx", "features"});
