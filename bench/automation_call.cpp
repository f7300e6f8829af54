// Cost of a late-bound call from a host through the C ABI: the name looked up once, then
// Invoke of a property get and of a method with two arguments, on an object of a small
// table of the real tables' shape.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "server/arguments.h"
#include "server/catalog.h"
#include "server/dispatch_object.h"
#include "server/type_table.h"
#include "tolmail/automation.h"

namespace {

using namespace tolmail::server;
using tolmail::Variant;

struct Gauge {
    int32_t level = 42;
    std::string label = "gauge";
};

const Param kAddParams[] = {{"a", TM_VT_I4}, {"b", TM_VT_I4}};
const Member kMembers[] = {
    {"Level", 1, Get, TM_VT_I4, {}, [](void* self, Arguments&, Variant& r) { r = static_cast<Gauge*>(self)->level; }},
    {"Label", 2, Get, TM_VT_BSTR, {}, [](void* self, Arguments&, Variant& r) { r = static_cast<Gauge*>(self)->label; }},
    {"Add", 3, Method, TM_VT_I4, kAddParams,
     [](void*, Arguments& a, Variant& r) { r = a.Long(0) + a.Long(1); }},
};
const TypeEntry kGauge{"Gauge", TM_TKIND_INTERFACE, TM_TYPEFLAG_DUAL, {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, "", kMembers};
const TypeEntry* const kTypes[] = {&kGauge};

const Library& BenchLibrary()
{
    static const Library library{"Bench", {9, 9, 9, {9}}, 1, 0, 1033, "", kTypes};
    return library;
}
const Catalog kCatalog{&BenchLibrary, [](const char*) -> const TypeEntry* { return &kGauge; },
                       [](const TypeEntry&) -> const TypeEntry* { return nullptr; }};

struct Object {
    Object() : dispatch(WrapObject(kCatalog, kGauge, std::make_shared<Gauge>(), "Gauge")) {}
    ~Object() { dispatch->vtbl->Release(dispatch); }
    int32_t id(const char* name)
    {
        int32_t dispid = 0;
        dispatch->vtbl->GetIDOfName(dispatch, name, &dispid, nullptr);
        return dispid;
    }
    TmDispatch* dispatch;
};

void BM_GetIDOfName(benchmark::State& state)
{
    Object o;
    for (auto _ : state)
        benchmark::DoNotOptimize(o.id("level"));
}
BENCHMARK(BM_GetIDOfName);

void BM_InvokePropertyGet(benchmark::State& state)
{
    Object o;
    const int32_t level = o.id("level");
    for (auto _ : state) {
        TmVariant result{};
        o.dispatch->vtbl->Invoke(o.dispatch, level, TM_DISPATCH_PROPERTYGET | TM_DISPATCH_METHOD, nullptr, 0, &result,
                                 nullptr);
        benchmark::DoNotOptimize(result.u.i4);
    }
}
BENCHMARK(BM_InvokePropertyGet);

void BM_InvokeStringGet(benchmark::State& state)
{
    Object o;
    const int32_t label = o.id("label");
    for (auto _ : state) {
        TmVariant result{};
        o.dispatch->vtbl->Invoke(o.dispatch, label, TM_DISPATCH_PROPERTYGET, nullptr, 0, &result, nullptr);
        benchmark::DoNotOptimize(result.u.str.data);
        TmVariantClear(&result);
    }
}
BENCHMARK(BM_InvokeStringGet);

void BM_InvokeMethod(benchmark::State& state)
{
    Object o;
    const int32_t add = o.id("add");
    for (auto _ : state) {
        TmVariant args[2]{};
        args[0].vt = args[1].vt = TM_VT_I4;
        args[0].u.i4 = 2;
        args[1].u.i4 = 3;
        TmVariant result{};
        o.dispatch->vtbl->Invoke(o.dispatch, add, TM_DISPATCH_METHOD, args, 2, &result, nullptr);
        benchmark::DoNotOptimize(result.u.i4);
    }
}
BENCHMARK(BM_InvokeMethod);

} // namespace

BENCHMARK_MAIN();
