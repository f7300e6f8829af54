// Enumerators, class objects and the unload count, and the exported description, through
// the C ABI against the toy library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "abi_support.h"
#include "server/class_object.h"
#include "server/error_info.h"
#include "server/library_desc.h"
#include "server/live_count.h"
#include "toy_library.h"

namespace {

using namespace host;
using tolmail::server::CanUnload;
using tolmail::server::GetClassObject;

TmClassFactory* CounterClass()
{
    void* factory = nullptr;
    EXPECT_EQ(GetClassObject(toy::Catalog(), &toy::counterClass.guid, &TM_IID_IClassFactory, &factory), TM_S_OK);
    return static_cast<TmClassFactory*>(factory);
}

std::vector<std::string> Drain(TmEnumVariant* e, uint32_t batch)
{
    std::vector<std::string> names;
    for (;;) {
        std::vector<TmVariant> items(batch);
        uint32_t fetched = 99;
        const TmResult hr = e->vtbl->Next(e, batch, items.data(), &fetched);
        for (uint32_t i = 0; i < fetched; ++i) {
            TmDispatch* child = items[i].u.object;
            Call name(child, toy::kChildName, TM_DISPATCH_PROPERTYGET);
            names.push_back(Text(name.value));
            TmVariantClear(&items[i]);
        }
        if (hr != TM_S_OK)
            return names;
    }
}

TEST(Enumerator, VisitsTheItemsInOrderAgainAndFromAClone)
{
    TmClassFactory* factory = CounterClass();
    void* made = nullptr;
    ASSERT_EQ(factory->vtbl->CreateInstance(factory, nullptr, nullptr, &made), TM_S_OK);
    factory->vtbl->Release(factory);
    auto* counter = static_cast<TmDispatch*>(made);
    {
        Call newEnum(counter, toy::kNewEnum, TM_DISPATCH_METHOD | TM_DISPATCH_PROPERTYGET);
        ASSERT_EQ(newEnum.value.vt, TM_VT_UNKNOWN);
        TmUnknown* unknown = newEnum.value.u.unknown;
        void* asEnum = nullptr;
        ASSERT_EQ(unknown->vtbl->QueryInterface(unknown, &TM_IID_IEnumVARIANT, &asEnum), TM_S_OK);
        auto* e = static_cast<TmEnumVariant*>(asEnum);
        const std::vector<std::string> all{"one", "two", "three"};

        EXPECT_EQ(Drain(e, 1), all);
        EXPECT_EQ(Drain(e, 5), std::vector<std::string>{});  // at the end it stays at the end
        EXPECT_EQ(e->vtbl->Reset(e), TM_S_OK);
        EXPECT_EQ(Drain(e, 2), all);

        e->vtbl->Reset(e);
        EXPECT_EQ(e->vtbl->Skip(e, 1), TM_S_OK);
        TmEnumVariant* clone = nullptr;
        ASSERT_EQ(e->vtbl->Clone(e, &clone), TM_S_OK);
        EXPECT_EQ(Drain(clone, 1), (std::vector<std::string>{"two", "three"}));
        EXPECT_EQ(Drain(e, 3), (std::vector<std::string>{"two", "three"}));  // the clone moved alone
        EXPECT_EQ(e->vtbl->Skip(e, 1), TM_S_FALSE);
        clone->vtbl->Release(clone);
        e->vtbl->Release(e);
    }
    counter->vtbl->Release(counter);
    EXPECT_TRUE(CanUnload());
}

TEST(ClassObject, CreatesAndOnlyItsLockCountsTowardsUnloading)
{
    ASSERT_TRUE(CanUnload());
    TmClassFactory* factory = CounterClass();
    EXPECT_TRUE(CanUnload());  // a class object alone keeps nothing loaded (engines cache them)

    void* made = nullptr;
    TmUnknown outer{};
    EXPECT_EQ(factory->vtbl->CreateInstance(factory, &outer, nullptr, &made), TM_CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->vtbl->CreateInstance(factory, nullptr, &TM_IID_IEnumVARIANT, &made), TM_E_NOINTERFACE);
    EXPECT_EQ(made, nullptr);
    ASSERT_EQ(factory->vtbl->CreateInstance(factory, nullptr, &toy::counterInterface.guid, &made), TM_S_OK);
    EXPECT_EQ(factory->vtbl->LockServer(factory, 1), TM_S_OK);
    factory->vtbl->Release(factory);

    auto* counter = static_cast<TmDispatch*>(made);
    EXPECT_EQ(Call(counter, toy::kValue, TM_DISPATCH_PROPERTYGET).value.u.i4, 0);
    counter->vtbl->Release(counter);
    EXPECT_FALSE(CanUnload());  // still locked
    tolmail::server::ServerUnlocked();
    EXPECT_TRUE(CanUnload());
}

TEST(ClassObject, OnlyCreatableClassesHaveOne)
{
    const TmGuid unknown{0xdeadbeef, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const TmGuid* refused[] = {&unknown, &toy::childInterface.guid, &toy::counterInterface.guid, &toy::counterEvents.guid};
    for (const TmGuid* clsid : refused) {
        void* object = &object;
        EXPECT_EQ(GetClassObject(toy::Catalog(), clsid, &TM_IID_IClassFactory, &object), TM_CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_TRUE(CanUnload());
}

TEST(Description, APropertyWithGetAndLetTakesTwoSlotsGetFirst)
{
    const TmLibraryDesc& lib = tolmail::server::DescriptionOf(toy::Library()).desc();
    EXPECT_STREQ(lib.name, "Toy");
    ASSERT_EQ(lib.typeCount, 4u);
    const TmTypeDesc& counter = lib.types[1];
    EXPECT_STREQ(counter.name, "_Counter");
    EXPECT_EQ(lib.types[2].defaultInterface, &counter);
    EXPECT_EQ(lib.types[2].eventInterface, &lib.types[3]);

    // Item, Value get/let, Name get/let, Add, Swap, Fail, Flag get/let, Small get/let, Adopt, Tick, Sum, NewEnum
    ASSERT_EQ(counter.funcCount, 16u);
    const TmFuncDesc& get = counter.funcs[1];
    const TmFuncDesc& let = counter.funcs[2];
    EXPECT_STREQ(get.name, "Value");
    EXPECT_EQ(get.invokeKind, TM_DISPATCH_PROPERTYGET);
    EXPECT_EQ(get.resultType, TM_VT_I4);
    EXPECT_EQ(let.invokeKind, TM_DISPATCH_PROPERTYPUT);
    EXPECT_EQ(let.dispid, get.dispid);
    ASSERT_EQ(let.paramCount, 1u);
    EXPECT_EQ(let.params[0].type, TM_VT_I4);
    EXPECT_EQ(counter.funcs[5].params[1].flags, TM_PARAMFLAG_IN | TM_PARAMFLAG_OPTIONAL);  // Add's b
    EXPECT_EQ(counter.funcs[15].dispid, TM_DISPID_NEWENUM);
    EXPECT_EQ(counter.funcs[15].flags, TM_FUNCFLAG_HIDDEN);
    ASSERT_EQ(lib.types[3].funcCount, 1u);
    EXPECT_EQ(lib.types[3].funcs[0].params[1].flags, TM_PARAMFLAG_IN | TM_PARAMFLAG_BYREF);
}

TEST(ErrorInfo, ALongTextIsCutBeforeACharacter)
{
    TmErrorInfo info{};
    std::string text(sizeof info.description - 2, 'x');
    text += "\xC3\xA9\xC3\xA9";  // 'é' twice: the first straddles the field's end
    tolmail::server::FillErrorInfo(&info, 1, "source", text);
    EXPECT_EQ(std::string(info.description), std::string(sizeof info.description - 2, 'x'));
}

TEST(Variants, SetAndClearOwnTheirCopies)
{
    TmVariant v{};
    const uint8_t bytes[] = {0, 255, 10};
    ASSERT_EQ(TmVariantSetBytes(&v, bytes, 3), TM_S_OK);
    EXPECT_EQ(v.vt, TM_VT_ARRAY | TM_VT_UI1);
    EXPECT_EQ(std::string(v.u.str.data, 3), std::string("\0\xff\n", 3));
    ASSERT_EQ(TmVariantSetString(&v, "", 0), TM_S_OK);  // replaces (and frees) the bytes
    EXPECT_EQ(v.vt, TM_VT_BSTR);
    EXPECT_NE(v.u.str.data, nullptr);
    TmVariantClear(&v);
    EXPECT_EQ(v.vt, TM_VT_EMPTY);
    TmVariantClear(&v);
}

} // namespace
