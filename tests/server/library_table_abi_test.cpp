// The library's own tables driven through the exported C ABI, as a script host drives
// them: creation by class id, properties by name, a retrieved mailbox indexed by default
// and walked with for-each, events with their arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "abi_support.h"
#include "server/type_table.h"
#include "support/loopback_peer.h"
#include "tolmail/automation.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/socket_codes.h"

namespace {

using namespace host;
constexpr uint16_t kMethod = TM_DISPATCH_METHOD;
constexpr uint16_t kGet = TM_DISPATCH_PROPERTYGET;
constexpr uint16_t kLet = TM_DISPATCH_PROPERTYPUT;

const TmTypeDesc& Described(std::string_view name)
{
    const TmLibraryDesc* library = TmGetLibraryDesc();
    for (uint32_t i = 0; i < library->typeCount; ++i)
        if (name == library->types[i].name)
            return library->types[i];
    throw std::runtime_error("no type " + std::string(name));
}

TmResult ClassObject(const TmTypeDesc& type, TmClassFactory** factory)
{
    void* made = nullptr;
    const TmResult hr = DllGetClassObject(&type.guid, &TM_IID_IClassFactory, &made);
    *factory = static_cast<TmClassFactory*>(made);
    return hr;
}

/// A new component of the class, as a host creates it (the caller releases it).
TmDispatch* Create(const char* className)
{
    TmClassFactory* factory = nullptr;
    EXPECT_EQ(ClassObject(Described(className), &factory), TM_S_OK) << className;
    void* made = nullptr;
    EXPECT_EQ(factory->vtbl->CreateInstance(factory, nullptr, nullptr, &made), TM_S_OK);
    factory->vtbl->Release(factory);
    return static_cast<TmDispatch*>(made);
}

TmVariant I2(int16_t v)
{
    TmVariant x{};
    x.vt = TM_VT_I2;
    x.u.i2 = v;
    return x;
}

TEST(LibraryTableAbi, DescriptionIsTheTables)
{
    const TmLibraryDesc* library = TmGetLibraryDesc();
    const auto& tables = tolmail::server::TheLibrary();
    ASSERT_EQ(library->typeCount, tables.types.size());
    for (uint32_t i = 0; i < library->typeCount; ++i) {
        EXPECT_STREQ(library->types[i].name, tables.types[i]->name);
        EXPECT_EQ(std::memcmp(&library->types[i].guid, &tables.types[i]->guid, sizeof(TmGuid)), 0);
    }
    // A property with both accessors takes two slots, get first; a let-only one takes one.
    const TmTypeDesc& smtp = Described("_TolvanSMTP");
    std::vector<std::pair<std::string, uint16_t>> slots;
    for (uint32_t i = 0; i < smtp.funcCount; ++i)
        slots.emplace_back(smtp.funcs[i].name, smtp.funcs[i].invokeKind);
    const std::vector<std::pair<std::string, uint16_t>> opening{{"ContentType", kGet}, {"ContentType", kLet},
                                                                {"DateTime", kGet}};
    EXPECT_EQ(std::vector(slots.begin(), slots.begin() + 3), opening);
    EXPECT_EQ(std::count(slots.begin(), slots.end(), std::pair<std::string, uint16_t>{"Host", kLet}), 1);
    EXPECT_EQ(std::count(slots.begin(), slots.end(), std::pair<std::string, uint16_t>{"Host", kGet}), 0);
    // CharSet was declared put-first.
    const auto charSet = std::find(slots.begin(), slots.end(), std::pair<std::string, uint16_t>{"CharSet", kLet});
    ASSERT_NE(charSet, slots.end());
    EXPECT_EQ(*(charSet + 1), (std::pair<std::string, uint16_t>{"CharSet", kGet}));
}

TEST(LibraryTableAbi, OnlyTheThreeComponentsAreCreatable)
{
    const TmLibraryDesc* library = TmGetLibraryDesc();
    int creatable = 0;
    for (uint32_t i = 0; i < library->typeCount; ++i) {
        const TmTypeDesc& type = library->types[i];
        TmClassFactory* factory = nullptr;
        const TmResult hr = ClassObject(type, &factory);
        if (type.kind == TM_TKIND_COCLASS) {
            ++creatable;
            ASSERT_EQ(hr, TM_S_OK) << type.name;
            factory->vtbl->Release(factory);
        } else {
            EXPECT_EQ(hr, TM_CLASS_E_CLASSNOTAVAILABLE) << type.name;
        }
    }
    EXPECT_EQ(creatable, 3);
}

// Every property a component can both read and write keeps what a host assigned.
TEST(LibraryTableAbi, EveryComponentPropertyKeepsWhatAHostAssigns)
{
    // Values every validating setter keeps as they are.
    const std::map<std::string, int32_t> numbers{{"TimeOut", 7}, {"SocketType", 17}};
    for (const char* className : {"TolvanSocket", "TolvanSMTP", "TolvanPOP3"}) {
        TmDispatch* component = Create(className);
        const TmTypeDesc& type = *component->vtbl->GetTypeDesc(component);
        EXPECT_EQ(&type, Described(className).defaultInterface);
        for (uint32_t i = 0; i < type.funcCount; ++i) {
            // The get's slot is next to the let's, on either side (some were declared put-first).
            const TmFuncDesc& let = type.funcs[i];
            const TmFuncDesc* get = nullptr;
            for (const uint32_t j : {i - 1, i + 1})
                if (j < type.funcCount && type.funcs[j].invokeKind == kGet && type.funcs[j].dispid == let.dispid)
                    get = &type.funcs[j];
            if (let.invokeKind != kLet || !get)
                continue;
            SCOPED_TRACE(std::string(className) + "." + let.name);
            const std::string text = std::string("value of ") + let.name;
            const auto number = numbers.count(let.name) ? numbers.at(let.name) : 2;
            TmVariant value{};
            switch (get->resultType) {
            case TM_VT_BSTR: value = Str(text.c_str()); break;
            case TM_VT_I4: value = I4(number); break;
            case TM_VT_I2: value = I2(static_cast<int16_t>(number)); break;
            case TM_VT_BOOL: value = Bool(true); break;
            default: ADD_FAILURE() << "no value for type " << get->resultType; continue;
            }
            ASSERT_EQ(Call(component, IdOf(component, let.name), kLet, {value}).hr, TM_S_OK);
            Call got(component, let.dispid, kGet);
            ASSERT_EQ(got.hr, TM_S_OK);
            ASSERT_EQ(got.value.vt, value.vt);
            switch (value.vt) {
            case TM_VT_BSTR: EXPECT_EQ(Text(got.value), text); break;
            case TM_VT_I4: EXPECT_EQ(got.value.u.i4, number); break;
            case TM_VT_I2: EXPECT_EQ(got.value.u.i2, number); break;
            default: EXPECT_EQ(got.value.u.boolean, -1);
            }
        }
        component->vtbl->Release(component);
    }
}

TEST(LibraryTableAbi, ByReferenceTextAndVariantResultsReachTheHost)
{
    TmDispatch* socket = Create("TolvanSocket");
    TmVariant line = I4(7);
    Call read(socket, IdOf(socket, "getlndata"), kMethod, {Ref(&line)});
    EXPECT_EQ(read.value.u.i4, tolmail::socket_result::NotConnected);
    ASSERT_EQ(line.vt, TM_VT_BSTR);
    EXPECT_EQ(line.u.str.length, 0u);
    TmVariantClear(&line);
    Call sent(socket, IdOf(socket, "senddta"), kMethod, {Str("x")});
    ASSERT_EQ(sent.value.vt, TM_VT_I2);
    EXPECT_EQ(sent.value.u.i2, tolmail::socket_result::NotConnected);
    socket->vtbl->Release(socket);
}

struct ProgressSink {
    std::vector<int32_t> tasks;
    static void Receive(void* context, int32_t dispid, TmVariant* args, uint32_t count)
    {
        ASSERT_EQ(dispid, 1);
        ASSERT_EQ(count, 4u);
        ASSERT_EQ(args[0].vt, TM_VT_BSTR);
        ASSERT_EQ(args[1].vt, TM_VT_I4);
        static_cast<ProgressSink*>(context)->tasks.push_back(args[1].u.i4);
    }
};

std::string SubjectOf(TmDispatch* message)
{
    Call subject(message, IdOf(message, "Subject"), kGet);
    return subject.value.vt == TM_VT_BSTR ? Text(subject.value) : "?";
}

TEST(LibraryTableAbi, RetrievedMailboxIndexesByDefaultAndEnumeratesInOrder)
{
    loopback::ScriptedPeer peer({loopback::Replies(
        {"+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", "+OK 2 300\r\n", "+OK 1 120\r\n",
         "+OK\r\nSubject: one\r\n\r\n.\r\n", "+OK 2 180\r\n", "+OK\r\nSubject: two\r\n\r\n.\r\n", "+OK bye\r\n"},
        true)});
    TmDispatch* pop3 = Create("TolvanPOP3");
    ProgressSink sink;
    uint32_t cookie = 0;
    ASSERT_EQ(pop3->vtbl->Advise(pop3, &ProgressSink::Receive, &sink, &cookie), TM_S_OK);
    Call(pop3, IdOf(pop3, "Host"), kLet, {Str("127.0.0.1")});
    Call(pop3, IdOf(pop3, "Port"), kLet, {I2(static_cast<int16_t>(peer.port()))});
    Call(pop3, IdOf(pop3, "Login"), kLet, {Str("user")});
    Call(pop3, IdOf(pop3, "Password"), kLet, {Str("secret")});
    ASSERT_EQ(Call(pop3, IdOf(pop3, "Connect"), kMethod).value.u.i4, tolmail::pop3_result::Ok);
    EXPECT_EQ(sink.tasks, (std::vector<int32_t>{1, 3}));
    ASSERT_EQ(Call(pop3, IdOf(pop3, "GetMessageHeader"), kMethod).value.u.i4, tolmail::pop3_result::Ok);

    Call messages(pop3, IdOf(pop3, "Messages"), kGet);
    ASSERT_EQ(messages.value.vt, TM_VT_DISPATCH);
    TmDispatch* list = messages.value.u.object;
    EXPECT_STREQ(list->vtbl->GetTypeDesc(list)->name, "Messages");
    {
        Call first(list, TM_DISPID_VALUE, kMethod | kGet, {I4(1)});  // Messages(1)
        ASSERT_EQ(first.value.vt, TM_VT_DISPATCH);
        EXPECT_STREQ(first.value.u.object->vtbl->GetTypeDesc(first.value.u.object)->name, "Message");
        EXPECT_EQ(SubjectOf(first.value.u.object), "one");
    }
    Call newEnum(list, TM_DISPID_NEWENUM, kMethod | kGet);
    ASSERT_EQ(newEnum.value.vt, TM_VT_UNKNOWN);
    void* asEnum = nullptr;
    ASSERT_EQ(newEnum.value.u.unknown->vtbl->QueryInterface(newEnum.value.u.unknown, &TM_IID_IEnumVARIANT, &asEnum),
              TM_S_OK);
    auto* each = static_cast<TmEnumVariant*>(asEnum);
    std::vector<std::string> subjects;
    TmVariant item{};
    while (each->vtbl->Next(each, 1, &item, nullptr) == TM_S_OK) {
        subjects.push_back(SubjectOf(item.u.object));
        TmVariantClear(&item);
    }
    each->vtbl->Release(each);
    EXPECT_EQ(subjects, (std::vector<std::string>{"one", "two"}));

    // The collection handed to another component by reference is the same collection there.
    TmDispatch* other = Create("TolvanPOP3");
    EXPECT_EQ(Call(other, IdOf(other, "Messages"), TM_DISPATCH_PROPERTYPUTREF, {Object(list)}).hr, TM_S_OK);
    {
        Call adopted(other, IdOf(other, "Messages"), kGet);
        ASSERT_EQ(adopted.value.vt, TM_VT_DISPATCH);
        EXPECT_EQ(Call(adopted.value.u.object, IdOf(list, "Count"), kGet).value.u.i4, 2);
    }
    other->vtbl->Release(other);

    EXPECT_EQ(Call(pop3, IdOf(pop3, "Disconnect"), kMethod).value.u.i4, tolmail::pop3_result::Ok);
    EXPECT_EQ(pop3->vtbl->Unadvise(pop3, cookie), TM_S_OK);
    pop3->vtbl->Release(pop3);
}

} // namespace
