// Late-bound calls through the C ABI against the toy library.
#include <gtest/gtest.h>


#include "abi_support.h"
#include "server/class_object.h"
#include "server/dispatch_object.h"
#include "server/live_count.h"
#include "support/portable.h"
#include "tolmail/error.h"
#include "toy_library.h"

namespace {

using namespace host;

constexpr uint16_t kMethod = TM_DISPATCH_METHOD;
constexpr uint16_t kGet = TM_DISPATCH_PROPERTYGET;
constexpr uint16_t kPut = TM_DISPATCH_PROPERTYPUT;

TmDispatch* NewCounter()
{
    void* factory = nullptr;
    EXPECT_EQ(tolmail::server::GetClassObject(toy::Catalog(), &toy::counterClass.guid, &TM_IID_IClassFactory, &factory),
              TM_S_OK);
    auto* classObject = static_cast<TmClassFactory*>(factory);
    void* object = nullptr;
    EXPECT_EQ(classObject->vtbl->CreateInstance(classObject, nullptr, &TM_IID_IDispatch, &object), TM_S_OK);
    classObject->vtbl->Release(classObject);
    return static_cast<TmDispatch*>(object);
}

class Dispatch : public ::testing::Test {
protected:
    void TearDown() override
    {
        object->vtbl->Release(object);
        EXPECT_TRUE(tolmail::server::CanUnload()) << "a wrapper or enumerator leaked";
    }
    TmDispatch* object = NewCounter();
};

TEST_F(Dispatch, NamesAreFoundInAnyLetterCase)
{
    const struct {
        const char* name;
        int32_t dispid;
    } cases[] = {{"value", toy::kValue}, {"VALUE", toy::kValue}, {"aDd", toy::kAdd}, {"item", toy::kItem},
                 {"_NEWENUM", 0x7fffffff}, {"NewEnum", toy::kNewEnum}};
    for (const auto& c : cases)
        EXPECT_EQ(IdOf(object, c.name), c.dispid) << c.name;

    int32_t dispid = 0;
    TmErrorInfo error{};
    EXPECT_EQ(object->vtbl->GetIDOfName(object, "Valu", &dispid, &error), TM_DISP_E_UNKNOWNNAME);
    EXPECT_STREQ(error.source, "Toy.Counter");
    EXPECT_NE(std::string(error.description).find("Valu"), std::string::npos);
}

TEST_F(Dispatch, FlagsChooseTheAccessor)
{
    Call(object, toy::kValue, kPut, {I4(41)});
    const struct {
        int32_t dispid;
        uint16_t flags;
        TmResult hr;
    } cases[] = {
        {toy::kValue, kGet, TM_S_OK},
        {toy::kValue, kGet | kMethod, TM_S_OK},  // script engines ask for both
        {toy::kValue, kMethod, TM_S_OK},         // some ask for a method only
        {toy::kAdd, kGet, TM_DISP_E_MEMBERNOTFOUND},
        {toy::kAdd, kPut, TM_DISP_E_MEMBERNOTFOUND},
        {1234, kGet, TM_DISP_E_MEMBERNOTFOUND},
    };
    for (const auto& c : cases) {
        Call call(object, c.dispid, c.flags, c.dispid == toy::kAdd ? std::vector{I4(1)} : std::vector<TmVariant>{});
        EXPECT_EQ(call.hr, c.hr) << c.dispid << " flags " << c.flags;
        if (c.hr == TM_S_OK) {
            ASSERT_EQ(call.value.vt, TM_VT_I4);
            EXPECT_EQ(call.value.u.i4, 41);
        } else {
            EXPECT_EQ(call.error.code, c.hr);
        }
    }
    // Set (put by reference) reaches the same accessor for a host that cannot tell.
    Call set(object, toy::kValue, TM_DISPATCH_PROPERTYPUTREF, {I4(7)});
    EXPECT_EQ(set.hr, TM_S_OK);
    EXPECT_EQ(Call(object, toy::kValue, kGet).value.u.i4, 7);
}

TEST_F(Dispatch, ArgumentsAreCoercedAsAHostCoercesThem)
{
    const struct {
        std::vector<TmVariant> args;
        int32_t sum;
    } cases[] = {
        {{Str(" 2 "), I4(3)}, 5},
        {{R8(2.5)}, 2},  // half to even, the second argument left out at the end
        {{R8(3.5), MissingArg()}, 4},
        {{Bool(true), Bool(true)}, -2},
    };
    for (const auto& c : cases) {
        Call call(object, toy::kAdd, kMethod, c.args);
        ASSERT_EQ(call.hr, TM_S_OK) << call.error.description;
        EXPECT_EQ(call.value.u.i4, c.sum);
    }
    // More arguments than a call keeps at hand, one of them written back.
    TmVariant total{};
    Call many(object, toy::kSum, kMethod, {I4(1), I4(2), I4(3), I4(4), I4(5), I4(6), I4(7), Str("8"), I4(9), Ref(&total)});
    ASSERT_EQ(many.hr, TM_S_OK) << many.error.description;
    EXPECT_EQ(many.value.u.i4, 45);
    EXPECT_EQ(total.vt, TM_VT_I4);
    EXPECT_EQ(total.u.i4, 45);

    EXPECT_EQ(Call(object, toy::kFlag, kPut, {Str("True")}).hr, TM_S_OK);
    Call flag(object, toy::kFlag, kGet);
    EXPECT_EQ(flag.value.vt, TM_VT_BOOL);
    EXPECT_EQ(flag.value.u.boolean, -1);
    EXPECT_EQ(Call(object, toy::kFlag, kPut, {I4(0)}).hr, TM_S_OK);
    EXPECT_EQ(Call(object, toy::kFlag, kGet).value.u.boolean, 0);
}

TEST_F(Dispatch, FailuresComeBackAsTheirCodesWithAText)
{
    const struct {
        int32_t dispid;
        uint16_t flags;
        std::vector<TmVariant> args;
        TmResult hr;
        int32_t code;  // in the error info
    } cases[] = {
        {toy::kAdd, kMethod, {}, TM_DISP_E_BADPARAMCOUNT, TM_DISP_E_BADPARAMCOUNT},
        {toy::kAdd, kMethod, {I4(1), I4(2), I4(3)}, TM_DISP_E_BADPARAMCOUNT, TM_DISP_E_BADPARAMCOUNT},
        {toy::kValue, kPut, {}, TM_DISP_E_BADPARAMCOUNT, TM_DISP_E_BADPARAMCOUNT},
        {toy::kAdd, kMethod, {MissingArg(), I4(1)}, TM_DISP_E_PARAMNOTOPTIONAL, TM_DISP_E_PARAMNOTOPTIONAL},
        {toy::kAdd, kMethod, {Str("two")}, TM_DISP_E_TYPEMISMATCH, TM_DISP_E_TYPEMISMATCH},
        {toy::kSmall, kPut, {I4(40000)}, TM_DISP_E_OVERFLOW, TM_DISP_E_OVERFLOW},
        {toy::kValue, kPut, {R8(3e10)}, TM_DISP_E_OVERFLOW, TM_DISP_E_OVERFLOW},
        {toy::kItem, kMethod | kGet, {I4(4)}, TM_DISP_E_EXCEPTION, tolmail::errc::InvalidIndex},
        {toy::kFail, kMethod, {I4(1)}, TM_DISP_E_EXCEPTION, tolmail::errc::DuplicateKey},
        {toy::kFail, kMethod, {I4(2)}, TM_DISP_E_EXCEPTION, TM_E_FAIL},
        {toy::kAdopt, kMethod, {I4(2)}, TM_DISP_E_TYPEMISMATCH, TM_DISP_E_TYPEMISMATCH},
    };
    for (const auto& c : cases) {
        Call call(object, c.dispid, c.flags, c.args);
        EXPECT_EQ(call.hr, c.hr) << "dispid " << c.dispid;
        EXPECT_EQ(call.error.code, c.code) << "dispid " << c.dispid;
        EXPECT_STREQ(call.error.source, "Toy.Counter");
        EXPECT_GT(std::strlen(call.error.description), 5u);
    }
    Call fire(object, toy::kFail, kMethod, {I4(2)});
    EXPECT_STREQ(fire.error.description, "disk on fire");
}

TEST_F(Dispatch, ByReferenceArgumentsAreWrittenBackOnlyWhenChanged)
{
    TmVariant slot{};
    ASSERT_EQ(TmVariantSetString(&slot, "abc", 3), TM_S_OK);
    EXPECT_EQ(Call(object, toy::kSwap, kMethod, {Ref(&slot)}).hr, TM_S_OK);
    ASSERT_EQ(slot.vt, TM_VT_BSTR);
    EXPECT_EQ(Text(slot), "swapped:abc");

    // Left alone by the member, the host's variable keeps its very storage.
    const char* storage = slot.u.str.data;
    EXPECT_EQ(Call(object, toy::kSwap, kMethod, {Ref(&slot)}).hr, TM_S_OK);
    EXPECT_EQ(slot.u.str.data, storage);
    TmVariantClear(&slot);
}

TEST_F(Dispatch, ObjectsTravelBothWays)
{
    Call item(object, toy::kItem, kMethod | kGet, {I4(2)});
    ASSERT_EQ(item.hr, TM_S_OK);
    ASSERT_EQ(item.value.vt, TM_VT_DISPATCH);
    TmDispatch* child = item.value.u.object;
    EXPECT_EQ(Text(Call(child, IdOf(child, "name"), kGet).value), "two");

    Call adopted(object, toy::kAdopt, kMethod, {Object(child)});
    ASSERT_EQ(adopted.hr, TM_S_OK) << adopted.error.description;
    EXPECT_EQ(Text(adopted.value), "two");

    // An object the library did not make, or of the wrong class, is no Child.
    const TmDispatchVtbl otherTable{};
    TmDispatch foreign{&otherTable};
    EXPECT_EQ(Call(object, toy::kAdopt, kMethod, {Object(&foreign)}).hr, TM_DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(object, toy::kAdopt, kMethod, {Object(object)}).hr, TM_DISP_E_TYPEMISMATCH);

    void* same = nullptr;
    EXPECT_EQ(child->vtbl->QueryInterface(child, &toy::childInterface.guid, &same), TM_S_OK);
    EXPECT_EQ(same, child);
    child->vtbl->Release(child);
    EXPECT_EQ(child->vtbl->QueryInterface(child, &toy::counterInterface.guid, &same), TM_E_NOINTERFACE);
    EXPECT_EQ(same, nullptr);
}

TEST_F(Dispatch, AnotherThreadIsRefusedAndChangesNothing)
{
    Call(object, toy::kValue, kPut, {I4(1)});
    portable::Thread([&] {
        TmErrorInfo error{};
        int32_t dispid = 0;
        EXPECT_EQ(object->vtbl->GetIDOfName(object, "Value", &dispid, &error), TM_RPC_E_WRONG_THREAD);
        EXPECT_EQ(Call(object, toy::kValue, kPut, {I4(99)}).hr, TM_RPC_E_WRONG_THREAD);
        void* other = nullptr;
        EXPECT_EQ(object->vtbl->QueryInterface(object, &TM_IID_IDispatch, &other), TM_RPC_E_WRONG_THREAD);
        EXPECT_EQ(object->vtbl->AddRef(object), 0u);
        EXPECT_EQ(object->vtbl->Release(object), 0u);
        EXPECT_EQ(object->vtbl->Release(object), 0u);
        EXPECT_EQ(object->vtbl->GetTypeDesc(object), nullptr);
    }).join();
    EXPECT_EQ(Call(object, toy::kValue, kGet).value.u.i4, 1);
    EXPECT_EQ(object->vtbl->AddRef(object), 2u);  // the count is still the creator's one
    object->vtbl->Release(object);
}

TEST_F(Dispatch, EventsReachTheHostAndItsAnswerComesBack)
{
    struct Sink {
        int calls = 0;
        std::string text;
        static void Receive(void* context, int32_t dispid, TmVariant* args, uint32_t count)
        {
            auto* sink = static_cast<Sink*>(context);
            ++sink->calls;
            ASSERT_EQ(dispid, toy::kOnTick);
            ASSERT_EQ(count, 2u);
            sink->text = Text(args[0]);
            ASSERT_EQ(args[1].vt, TM_VT_BYREF | TM_VT_VARIANT);
            TmVariantSetString(args[1].u.ref, "tock", 4);
        }
    } sink;
    uint32_t cookie = 0;
    ASSERT_EQ(object->vtbl->Advise(object, &Sink::Receive, &sink, &cookie), TM_S_OK);
    Call tick(object, toy::kTick, kMethod);
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(sink.text, "tick");
    EXPECT_EQ(Text(tick.value), "tock");

    EXPECT_EQ(object->vtbl->Unadvise(object, cookie), TM_S_OK);
    EXPECT_EQ(object->vtbl->Unadvise(object, cookie), TM_E_INVALIDARG);
    Call(object, toy::kTick, kMethod);
    EXPECT_EQ(sink.calls, 1);

    Call item(object, toy::kItem, kMethod, {I4(1)});
    TmDispatch* child = item.value.u.object;
    EXPECT_EQ(child->vtbl->Advise(child, &Sink::Receive, &sink, &cookie), TM_E_NOINTERFACE);
}

TEST_F(Dispatch, ALastReleaseEndsTheConnections)
{
    // The C++ object outlives the host's wrapper; the host's handler must not be called.
    auto counter = std::make_shared<toy::Counter>();
    TmDispatch* wrapper = tolmail::server::WrapObject(toy::Catalog(), toy::counterInterface, counter, "Counter");
    uint32_t cookie = 0;
    ASSERT_EQ(wrapper->vtbl->Advise(wrapper, [](void*, int32_t, TmVariant*, uint32_t) {}, nullptr, &cookie), TM_S_OK);
    EXPECT_EQ(counter->sinks.size(), 1u);
    EXPECT_EQ(wrapper->vtbl->Release(wrapper), 0u);
    EXPECT_TRUE(counter->sinks.empty());
}

} // namespace
