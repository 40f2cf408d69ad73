// Aligned-PER encode and decode of a mid-size message, beside Erlang/OTP's
// per codec on the same message (per_bench.escript, PerBench.asn).
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "asn1/coder_env.h"
#include "bench/asn1/rate.h"

// Every heap allocation of the benchmark binary is counted.
namespace {
unsigned long allocations = 0; // the benchmarks run on one thread
}

__attribute__((noinline)) void* operator new(std::size_t n)
{
    ++allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
// Out of line, so that no caller sees malloc and free meet.
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace ASN1;

using Int1024 = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using Int256 = Constrained_INTEGER<FixedConstraint, 0, 255>;
using Int65536 = Constrained_INTEGER<FixedConstraint, 0, 65535>;

void const* const ItemInfos[] = {&Int1024::theInfo, &Int256::theInfo, &BOOLEAN::theInfo};
int const ItemIds[] = {-1, 0, -1};
char const* const ItemNames[] = {"id", "level", "active"};
SEQUENCE::InfoType const Item = {&SEQUENCE::create, 16, false, ItemInfos, ItemIds, 3, 0, 1, nullptr, nullptr, ItemNames};

SEQUENCE_OF_Base::InfoType const Receivers = {
    &SEQUENCE_OF_Base::create, 16, Unconstrained, 0, 4294967295u, &Int1024::theInfo};
void const* const ConnectInfos[] = {&Int1024::theInfo, &Receivers};
int const ConnectIds[] = {-1, -1};
char const* const ConnectNames[] = {"source", "receivers"};
SEQUENCE::InfoType const Connect = {
    &SEQUENCE::create, 16, false, ConnectInfos, ConnectIds, 2, 0, 0, nullptr, nullptr, ConnectNames};

AbstractString::InfoType const Display = {&AbstractString::create, 22, FixedConstraint, 1, 64, IA5StringSet, 128, 7, 7, 8};
void const* const CommandInfos[] = {&Null::theInfo, &Connect, &Display};
char const* const CommandNames[] = {"ping", "connect", "display"};
CHOICE::InfoType const Command = {&CHOICE::create, 0, false, CommandInfos, 3, 3, nullptr, CommandNames};

void const* const PduInfos[] = {&Command, &BOOLEAN::theInfo};
char const* const PduNames[] = {"command", "response"};
CHOICE::InfoType const Pdu = {&CHOICE::create, 0, true, PduInfos, 2, 2, nullptr, PduNames};

SEQUENCE_OF_Base::InfoType const Items = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, 4294967295u, &Item};
void const* const MessageInfos[] = {&Int65536::theInfo, &Int1024::theInfo, &Pdu, &Items, &IA5String::theInfo};
int const MessageIds[] = {0, 1, -1, -1, -1};
char const* const MessageNames[] = {"seq", "slot", "pdu", "items", "label"};
SEQUENCE::InfoType const Message = {
    &SEQUENCE::create, 16, true, MessageInfos, MessageIds, 5, 0, 2, nullptr, nullptr, MessageNames};

void setInt(AbstractData* v, int n) { static_cast<INTEGER&>(*v).setValue(n); }

// The message per_bench.escript builds.
std::unique_ptr<SEQUENCE> message()
{
    std::unique_ptr<SEQUENCE> m(static_cast<SEQUENCE*>(AbstractData::create(&Message)));
    setInt(m->includeOptionalField(0, 0), 4711);
    setInt(m->includeOptionalField(1, 1), 513);
    auto& pdu = static_cast<CHOICE&>(*m->getField(2));
    pdu.select(0);
    auto& command = static_cast<CHOICE&>(*pdu.getSelection());
    command.select(1);
    auto& connect = static_cast<SEQUENCE&>(*command.getSelection());
    setInt(connect.getField(0), 77);
    auto& receivers = static_cast<SEQUENCE_OF_Base&>(*connect.getField(1));
    for (int r = 1; r <= 3; ++r) {
        AbstractData* e = receivers.createElement();
        setInt(e, r);
        receivers.push_back(e);
    }
    auto& items = static_cast<SEQUENCE_OF_Base&>(*m->getField(3));
    for (int i = 1; i <= 8; ++i) {
        auto* item = static_cast<SEQUENCE*>(items.createElement());
        setInt(item->getField(0), i * 100);
        if (i % 2 == 0)
            setInt(item->includeOptionalField(0, 1), i * 10);
        static_cast<BOOLEAN&>(*item->getField(2)) = i % 3 == 0;
        items.push_back(item);
    }
    static_cast<AbstractString&>(*m->getField(4)).assign("gateway board 1, trunk 3");
    return m;
}

std::string hex(std::vector<char> const& octets)
{
    std::string out;
    char buf[3];
    for (char c : octets) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

std::vector<char> encoded()
{
    CoderEnv env;
    std::vector<char> out;
    env.encode(*message(), std::back_inserter(out));
    return out;
}

void BM_PerEncode(benchmark::State& state)
{
    auto m = message();
    CoderEnv env;
    std::vector<char> out;
    out.reserve(256);
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(env.encode(*m, std::back_inserter(out)));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["octets"] = double(out.size());
}
BENCHMARK(BM_PerEncode);

// Every message decoded into a fresh value.
void BM_PerDecodeFresh(benchmark::State& state)
{
    std::vector<char> const in = encoded();
    CoderEnv env;
    unsigned long const before = allocations;
    for (auto _ : state) {
        std::unique_ptr<AbstractData> m(AbstractData::create(&Message));
        if (!env.decode(in.data(), in.data() + in.size(), *m, true))
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_per_decode"] = double(allocations - before) / double(state.iterations());
}
BENCHMARK(BM_PerDecodeFresh);

// Decoding again into a value of the same shape reuses its members.
void BM_PerDecodeReused(benchmark::State& state)
{
    std::vector<char> const in = encoded();
    CoderEnv env;
    std::unique_ptr<AbstractData> m(AbstractData::create(&Message));
    env.decode(in.data(), in.data() + in.size(), *m, true);
    unsigned long const before = allocations;
    for (auto _ : state)
        if (!env.decode(in.data(), in.data() + in.size(), *m, true))
            state.SkipWithError("decode failed");
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_per_decode"] = double(allocations - before) / double(state.iterations());
}
BENCHMARK(BM_PerDecodeReused);


// Erlang's per codec and ours on the same message in the same run; the
// ratios are ours over Erlang's.
void BM_VersusErlang(benchmark::State& state)
{
    std::string const script = std::string(BENCH_ASN1_DIR) + "/per_bench.escript";
    long const count = 200000;
    for (auto _ : state) {
        std::string const command = "escript " + script + " " + std::to_string(count) + " 2>/dev/null";
        FILE* p = popen(command.c_str(), "r");
        if (!p) {
            state.SkipWithError("escript did not start");
            return;
        }
        double erlEncode = 0, erlDecode = 0;
        char octets[1024] = "";
        int const got = std::fscanf(p, "encode %lf decode %lf octets %1023s", &erlEncode, &erlDecode, octets);
        pclose(p);
        if (got != 3 || erlEncode <= 0 || erlDecode <= 0) {
            state.SkipWithError("no rates from escript (erlang-asn1 installed?)");
            return;
        }
        std::vector<char> const in = encoded();
        if (hex(in) != octets) {
            state.SkipWithError("Erlang and we encode the message differently");
            return;
        }
        auto m = message();
        CoderEnv env;
        std::vector<char> out;
        out.reserve(256);
        double const ourEncode = ratePerSecond([&] {
            out.clear();
            env.encode(*m, std::back_inserter(out));
        }, count * 10);
        double const ourDecode = ratePerSecond([&] {
            std::unique_ptr<AbstractData> v(AbstractData::create(&Message));
            env.decode(in.data(), in.data() + in.size(), *v, true);
        }, count * 10);
        setRateCounters(state, erlEncode, erlDecode, ourEncode, ourDecode);
        // As the controller link decodes: into the one value it keeps.
        std::unique_ptr<AbstractData> kept(AbstractData::create(&Message));
        double const ourDecodeKept = ratePerSecond([&] {
            env.decode(in.data(), in.data() + in.size(), *kept, true);
        }, count * 10);
        state.counters["our_decode_kept_per_s"] = ourDecodeKept;
        state.counters["decode_kept_ratio"] = ourDecodeKept / erlDecode;
    }
}
BENCHMARK(BM_VersusErlang)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
