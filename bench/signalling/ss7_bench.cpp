// MSUs through two SS7 links joined back to back, with 1 to 127 units
// outstanding before the far end acknowledges; the cost of releasing 127
// units on one acknowledgement and of retransmitting 127. The per-MSU cost
// should stay flat as the outstanding count grows.
#include "signalling/ss7_slc.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Keeps the octets of what the link sends, as the device would.
class Wire : public GenericHDLC {
public:
    bool hdlc_transmit(Packet& frame) override
    {
        const Packet& f = frame;
        frames.emplace_back(&f[0], &f[0] + f.length());
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return true; }
    std::vector<Bytes> frames;
};

class Owner : public ProtocolsList {
public:
    void list_on_message(Packet&) override { ++delivered; }
    unsigned delivered = 0;
};

void deliver(const Bytes& b, SS7::SLC& to)
{
    Packet p;
    p.reserve_head(0);
    std::memcpy(p.put(unsigned(b.size())), b.data(), b.size());
    to.receive(p);
}

struct End {
    End()
    {
        slc = new SS7::SLC;
        owner.add_protocol_tail(slc);
        slc->hdlc(&wire);
        deliver({0xFF, 0xFF, 0x01, 0x01}, *slc); // SIN: proving
        deliver({0xFF, 0xFF, 0x00}, *slc);       // FISU: worked
        wire.frames.clear();
    }
    void send(unsigned n)
    {
        for (unsigned i = 0; i < n; ++i) {
            Packet p;
            slc->prepare_head(p);
            std::memset(p.put(20), int(i), 20);
            slc->message(p);
        }
    }
    // Everything this end sent, to the other end.
    void flush_to(End& other)
    {
        for (const Bytes& b : wire.frames)
            deliver(b, *other.slc);
        wire.frames.clear();
    }
    Wire wire;
    Owner owner;
    SS7::SLC* slc;
};

struct Quiet {
    Quiet() : clog(std::clog.rdbuf(sink.rdbuf())), cerr(std::cerr.rdbuf(sink.rdbuf())) {}
    ~Quiet()
    {
        std::clog.rdbuf(clog);
        std::cerr.rdbuf(cerr);
    }
    std::ostringstream sink;
    std::streambuf* clog;
    std::streambuf* cerr;
};

void BM_MsuThroughput(benchmark::State& state)
{
    Quiet quiet;
    End a, b;
    unsigned outstanding = unsigned(state.range(0));
    for (auto _ : state) {
        a.send(outstanding);
        a.flush_to(b); // each accepted MSU answered by a FISU
        b.flush_to(a); // which releases it
    }
    if (b.owner.delivered != state.iterations() * outstanding || a.slc->get_state_id() != 5)
        state.SkipWithError("units lost");
    state.SetItemsProcessed(int64_t(state.iterations()) * outstanding);
}
BENCHMARK(BM_MsuThroughput)->Arg(1)->Arg(8)->Arg(32)->Arg(64)->Arg(127);

// The far end's acknowledgement of everything outstanding.
Bytes ack_all(End& a, bool bib)
{
    const Bytes& last = a.wire.frames.back();
    return {static_cast<unsigned char>((last[1] & 0x7F) | (bib ? 0x80 : 0)), 0xFF, 0x00};
}

void BM_ReleaseOnOneAck(benchmark::State& state)
{
    Quiet quiet;
    End a;
    for (auto _ : state) {
        state.PauseTiming();
        a.send(127);
        Bytes ack = ack_all(a, true);
        a.wire.frames.clear();
        state.ResumeTiming();
        deliver(ack, *a.slc);
    }
    if (a.slc->statistics()->rtb_size != 0)
        state.SkipWithError("units left in the RTB");
    state.SetItemsProcessed(int64_t(state.iterations()) * 127);
}
BENCHMARK(BM_ReleaseOnOneAck);

void BM_Retransmit127(benchmark::State& state)
{
    Quiet quiet;
    End a;
    bool bib = true;
    for (auto _ : state) {
        state.PauseTiming();
        a.send(127);
        const Bytes& first = a.wire.frames.front();
        // BSN one before the first unit, BIB inverted: send them all again.
        Bytes nack{static_cast<unsigned char>(((first[1] - 1) & 0x7F) | (bib ? 0 : 0x80)), 0xFF, 0x00};
        bib = !bib;
        a.wire.frames.clear();
        state.ResumeTiming();
        deliver(nack, *a.slc);
        state.PauseTiming();
        if (a.wire.frames.size() != 127)
            state.SkipWithError("not all sent again");
        deliver(ack_all(a, bib), *a.slc);
        a.wire.frames.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 127);
}
BENCHMARK(BM_Retransmit127);

} // namespace

BENCHMARK_MAIN();
