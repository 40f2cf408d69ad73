// Cost of building, copying, comparing and printing a message-sized value.
#include "asn1/asn1.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>

using namespace ASN1;

namespace {

// Item ::= SEQUENCE { id INTEGER (0..1023), name IA5String, flag BOOLEAN OPTIONAL, data OCTET STRING }
// Msg  ::= SEQUENCE { seq INTEGER, head Item, items SEQUENCE OF Item }
using Id = Constrained_INTEGER<FixedConstraint, 0, 1023>;
extern const SEQUENCE::InfoType itemInfo;
void const* const itemFields[] = {&Id::theInfo, &IA5String::theInfo, &BOOLEAN::theInfo, &OCTET_STRING::theInfo};
int const itemIds[] = {-1, -1, 0, -1};
char const* const itemNames[] = {"id", "name", "flag", "data"};
const SEQUENCE::InfoType itemInfo = {&SEQUENCE::create, 16, false, itemFields, itemIds, 4, 0, 1, nullptr, nullptr,
                                     itemNames};
const SEQUENCE_OF_Base::InfoType itemsInfo = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, 4294967295u,
                                              &itemInfo};
void const* const msgFields[] = {&INTEGER::theInfo, &itemInfo, &itemsInfo};
int const msgIds[] = {-1, -1, -1};
char const* const msgNames[] = {"seq", "head", "items"};
const SEQUENCE::InfoType msgInfo = {&SEQUENCE::create, 16, false, msgFields, msgIds, 3, 0, 0, nullptr, nullptr,
                                    msgNames};

void fill(SEQUENCE& item, int i)
{
    static_cast<Id&>(*item.getField(0)) = unsigned(i);
    static_cast<IA5String&>(*item.getField(1)) = "item name";
    static_cast<BOOLEAN&>(*item.includeOptionalField(0, 2)) = true;
    static_cast<OCTET_STRING&>(*item.getField(3)) = std::vector<char>(16, char(i));
}

std::unique_ptr<SEQUENCE> message(int items)
{
    std::unique_ptr<SEQUENCE> m(new SEQUENCE(&msgInfo));
    fill(static_cast<SEQUENCE&>(*m->getField(1)), 0);
    auto& list = static_cast<SEQUENCE_OF_Base&>(*m->getField(2));
    for (int i = 0; i < items; ++i) {
        AbstractData* e = list.createElement();
        fill(static_cast<SEQUENCE&>(*e), i);
        list.push_back(e);
    }
    return m;
}

void BM_Create(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<AbstractData> v(AbstractData::create(&msgInfo));
        benchmark::DoNotOptimize(v.get());
    }
}
BENCHMARK(BM_Create);

void BM_Build(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(message(int(state.range(0))));
}
BENCHMARK(BM_Build)->Arg(20);

void BM_Clone(benchmark::State& state)
{
    auto m = message(int(state.range(0)));
    for (auto _ : state) {
        std::unique_ptr<AbstractData> c(m->clone());
        benchmark::DoNotOptimize(c.get());
    }
}
BENCHMARK(BM_Clone)->Arg(20);

void BM_CopyConstruct(benchmark::State& state)
{
    auto m = message(int(state.range(0)));
    for (auto _ : state) {
        SEQUENCE c(*m);
        benchmark::DoNotOptimize(&c);
    }
}
BENCHMARK(BM_CopyConstruct)->Arg(20);

void BM_Compare(benchmark::State& state)
{
    auto a = message(int(state.range(0))), b = message(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(a->compare(*b));
}
BENCHMARK(BM_Compare)->Arg(20);

void BM_Print(benchmark::State& state)
{
    auto m = message(int(state.range(0)));
    for (auto _ : state) {
        std::ostringstream o;
        o << *m;
        benchmark::DoNotOptimize(o.str().size());
    }
}
BENCHMARK(BM_Print)->Arg(20);

void BM_Validate(benchmark::State& state)
{
    auto m = message(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(m->isStrictlyValid());
}
BENCHMARK(BM_Validate)->Arg(20);

} // namespace
