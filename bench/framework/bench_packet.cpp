#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "framework/packet.h"

// Frame built the way the layers do: room for the headers, payload, then
// the headers pushed; then taken apart again.
static void BM_PacketBuildAndParse(benchmark::State& state)
{
    unsigned const payload = unsigned(state.range(0));
    std::vector<unsigned char> body(payload, 0x5A);
    for (auto _ : state) {
        Packet p;
        p.reserve_head(0);
        p.reserve_head(4);
        p.reserve_head(3);
        std::memcpy(p.put(payload), body.data(), payload);
        p.push16_b(0x0102);
        p.push8(0x03);
        p.push16_b(static_cast<unsigned short>(payload + 7));
        p.push8(0);
        p.push8(3);
        unsigned sum = p.pull8() + p.pull8() + p.pull16_b() + p.pull8() + p.pull16_b();
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(p.pull(p.length()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * payload);
}
BENCHMARK(BM_PacketBuildAndParse)->Arg(16)->Arg(256)->Arg(1500);

// Byte-wise append and read, the pattern of the octet-level codecs.
static void BM_PacketPut8Pull8(benchmark::State& state)
{
    unsigned const n = unsigned(state.range(0));
    Packet p;
    p.reserve_head(0);
    for (auto _ : state) {
        for (unsigned i = 0; i < n; ++i)
            p.put8(static_cast<unsigned char>(i));
        unsigned sum = 0;
        for (unsigned i = 0; i < n; ++i)
            sum += p.pull8();
        benchmark::DoNotOptimize(sum);
        p.clear();
        p.reserve_head(0);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_PacketPut8Pull8)->Arg(64)->Arg(1024);

// Pool take and give back alone.
static void BM_PacketAllocRelease(benchmark::State& state)
{
    for (auto _ : state) {
        Packet p;
        p.reserve_head(0);
        benchmark::DoNotOptimize(p.tail());
    }
}
BENCHMARK(BM_PacketAllocRelease);

// A queued packet copied and given a header: the copy takes a buffer of its
// own and copies the data bytes.
static void BM_PacketCopyOnWrite(benchmark::State& state)
{
    unsigned const payload = unsigned(state.range(0));
    Packet queued;
    queued.reserve_head(16);
    std::memset(queued.put(payload), 0x33, payload);
    for (auto _ : state) {
        Packet copy = queued;
        copy.push8(0xEE);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * payload);
}
BENCHMARK(BM_PacketCopyOnWrite)->Arg(16)->Arg(1500)->Arg(65000);

// Sharing without writing: only the count moves.
static void BM_PacketShare(benchmark::State& state)
{
    Packet queued;
    queued.reserve_head(0);
    queued.put8(1);
    for (auto _ : state) {
        Packet copy = queued;
        benchmark::DoNotOptimize(copy.length());
    }
}
BENCHMARK(BM_PacketShare);
