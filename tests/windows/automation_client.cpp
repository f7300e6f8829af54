// A C++ client of tolmail.dll: the type library against the tables it was written from,
// creation through the registry, the interfaces each object answers, early- and
// late-bound calls with their errors, objects handed back in, and unloading.
//   automation_client <path of tolmail.dll>   (registered with regsvr32 beforehand)
// The tables first: the system headers define `interface`, a name they use.
#include "server/library_desc.h"
#include "server/type_table.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "check.h"
#include "tolmail_h.h"

using windows_test::check;

namespace {

const GUID& Guid(const TmGuid& guid) { return reinterpret_cast<const GUID&>(guid); }

const TmTypeDesc& TypeNamed(const char* name)
{
    const TmLibraryDesc& library = tolmail::server::DescriptionOf(tolmail::server::TheLibrary()).desc();
    for (uint32_t i = 0; i < library.typeCount; ++i)
        if (std::strcmp(library.types[i].name, name) == 0)
            return library.types[i];
    std::printf("no type %s in the tables\n", name);
    std::exit(2);
}

std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(*text < 128 ? *text : '?');
    return out;
}

/// Every slot of a type in the type library against its description in the tables: name,
/// dispatch id, accessor, parameters (a result counts as one more), vtable offset, hidden.
void CompareWithTables(ITypeLib* library, const TmTypeDesc& type)
{
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(Guid(type.guid), &info))) {
        check(false, std::string(type.name) + " is in the type library");
        return;
    }
    if (type.kind == TM_TKIND_INTERFACE) {
        // The dual interface's vtable side, where the slots have their offsets.
        HREFTYPE partner = 0;
        ITypeInfo* vtable = nullptr;
        if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &partner)) && SUCCEEDED(info->GetRefTypeInfo(partner, &vtable))) {
            info->Release();
            info = vtable;
        }
    }
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    const bool sameCount = attributes->cFuncs == type.funcCount;
    const bool dual = type.kind != TM_TKIND_INTERFACE || (attributes->wTypeFlags & TYPEFLAG_FDUAL);
    const bool hidden = ((attributes->wTypeFlags & TYPEFLAG_FHIDDEN) != 0) == ((type.flags & TM_TYPEFLAG_HIDDEN) != 0);
    info->ReleaseTypeAttr(attributes);
    check(sameCount && dual && hidden, std::string(type.name) + ": kind, flags and number of slots");
    std::string differences;
    for (uint32_t i = 0; sameCount && i < type.funcCount; ++i) {
        const TmFuncDesc& expected = type.funcs[i];
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func))) {
            differences += " slot" + std::to_string(i);
            continue;
        }
        BSTR name = nullptr;
        UINT names = 0;
        info->GetNames(func->memid, &name, 1, &names);
        const int params = expected.paramCount + (expected.resultType != TM_VT_EMPTY ? 1 : 0);
        const bool same = Narrow(name) == expected.name && func->memid == expected.dispid &&
                          func->invkind == expected.invokeKind && func->cParams == params &&
                          ((func->wFuncFlags & FUNCFLAG_FHIDDEN) != 0) == ((expected.flags & TM_FUNCFLAG_HIDDEN) != 0) &&
                          (type.kind != TM_TKIND_INTERFACE || func->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)));
        if (!same)
            differences += " " + std::string(expected.name);
        SysFreeString(name);
        info->ReleaseFuncDesc(func);
    }
    check(differences.empty(), std::string(type.name) + ": every slot as the tables say" + differences);
    info->Release();
}

/// A property read late-bound by name, as a script does.
HRESULT GetByName(IDispatch* object, const wchar_t* name, VARIANT& value, EXCEPINFO* exception = nullptr,
                  VARIANT* argument = nullptr)
{
    DISPID dispid = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
    VariantInit(&value);
    return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                          &value, exception, nullptr);
}

template <class T>
T* Query(IUnknown* object, const GUID& iid)
{
    void* out = nullptr;
    return object && SUCCEEDED(object->QueryInterface(iid, &out)) ? static_cast<T*>(out) : nullptr;
}

void CheckComponent(const char* className, const char* interfaceName, const char* eventsName)
{
    const TmTypeDesc& coclass = TypeNamed(className);
    const GUID& dual = Guid(TypeNamed(interfaceName).guid);
    const GUID& events = Guid(TypeNamed(eventsName).guid);
    IUnknown* object = nullptr;
    const HRESULT hr = CoCreateInstance(Guid(coclass.guid), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&object));
    check(SUCCEEDED(hr), std::string(className) + " created through the registry");
    if (!object)
        return;
    auto* dispatch = Query<IDispatch>(object, IID_IDispatch);
    auto* typed = Query<IUnknown>(object, dual);
    auto* errors = Query<ISupportErrorInfo>(object, IID_ISupportErrorInfo);
    auto* classInfo = Query<IProvideClassInfo2>(object, IID_IProvideClassInfo2);
    auto* container = Query<IConnectionPointContainer>(object, IID_IConnectionPointContainer);
    check(dispatch && typed && errors && classInfo && container,
          std::string(className) + " answers IDispatch, its dual interface, error info, class info, connection points");
    check(Query<IUnknown>(object, IID_IPersist) == nullptr, std::string(className) + " refuses what it lacks");
    if (dispatch && typed) {
        IUnknown* identity = Query<IUnknown>(dispatch, IID_IUnknown);
        check(identity == object, std::string(className) + ": one identity for every interface");
        identity->Release();
    }
    if (errors)
        check(errors->InterfaceSupportsErrorInfo(dual) == S_OK && errors->InterfaceSupportsErrorInfo(IID_IPersist) == S_FALSE,
              std::string(className) + ": error info for its dual interface only");
    if (classInfo) {
        GUID source{};
        ITypeInfo* info = nullptr;
        TYPEATTR* attributes = nullptr;
        const bool events_ok = SUCCEEDED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source)) &&
                               IsEqualGUID(source, events);
        bool class_ok = SUCCEEDED(classInfo->GetClassInfo(&info)) && SUCCEEDED(info->GetTypeAttr(&attributes)) &&
                        IsEqualGUID(attributes->guid, Guid(coclass.guid)) && attributes->typekind == TKIND_COCLASS;
        if (attributes)
            info->ReleaseTypeAttr(attributes);
        if (info)
            info->Release();
        check(events_ok && class_ok, std::string(className) + ": class info names the class and its events");
    }
    if (container) {
        IConnectionPoint* point = nullptr;
        IID found{};
        const bool ok = SUCCEEDED(container->FindConnectionPoint(events, &point)) &&
                        SUCCEEDED(point->GetConnectionInterface(&found)) && IsEqualGUID(found, events);
        if (point)
            point->Release();
        check(ok && container->FindConnectionPoint(IID_IDispatch, &point) == CONNECT_E_NOCONNECTION,
              std::string(className) + ": a connection point for its event interface only");
    }
    for (IUnknown* held : {static_cast<IUnknown*>(dispatch), typed, static_cast<IUnknown*>(errors),
                           static_cast<IUnknown*>(classInfo), static_cast<IUnknown*>(container), object})
        if (held)
            held->Release();
}

/// Records the shape of the progress events it is told (OnSMTPEvent: text, task, two numbers).
class ProgressSink final : public IDispatch {
public:
    int events = 0;
    bool wellFormed = true;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        ++events;
        // The last argument comes first: the text is rgvarg[3].
        wellFormed = wellFormed && dispid == 1 && params->cArgs == 4 && V_VT(&params->rgvarg[3]) == VT_BSTR &&
                     V_VT(&params->rgvarg[2]) == VT_I4 && V_VT(&params->rgvarg[1]) == VT_I4 &&
                     V_VT(&params->rgvarg[0]) == VT_I4;
        return S_OK;
    }
    ULONG refs() const { return refs_; }

private:
    ULONG refs_ = 1;
};

/// Events reach a connected sink with their arguments in dispatch order, and the
/// connection lets go of the sink when it ends.
void CheckEvents()
{
    _TolvanSMTP* smtp = nullptr;
    CoCreateInstance(Guid(TypeNamed("TolvanSMTP").guid), nullptr, CLSCTX_INPROC_SERVER, Guid(TypeNamed("_TolvanSMTP").guid),
                     reinterpret_cast<void**>(&smtp));
    auto* container = Query<IConnectionPointContainer>(smtp, IID_IConnectionPointContainer);
    IConnectionPoint* point = nullptr;
    ProgressSink sink;
    DWORD cookie = 0;
    if (!container || FAILED(container->FindConnectionPoint(Guid(TypeNamed("__TolvanSMTP").guid), &point)) ||
        FAILED(point->Advise(&sink, &cookie))) {
        check(false, "a sink connects to TolvanSMTP");
    } else {
        // Nothing listens on port 1: the attempt fails, and tells its steps on the way.
        BSTR host = SysAllocString(L"127.0.0.1");
        smtp->put_Host(host);
        SysFreeString(host);
        VARIANT port;
        VariantInit(&port);
        V_VT(&port) = VT_I4;
        V_I4(&port) = 1;
        DISPID dispid = 0, named = DISPID_PROPERTYPUT;
        LPOLESTR name = const_cast<LPOLESTR>(L"Port");
        DISPPARAMS put{&port, &named, 1, 1};
        smtp->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
        smtp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
        LONG result = 0;
        smtp->Connect(&result);
        check(sink.events > 0 && sink.wellFormed,
              "OnSMTPEvent reaches the sink with text, task and numbers in dispatch order (" +
                  std::to_string(sink.events) + " events)");
        check(SUCCEEDED(point->Unadvise(cookie)) && sink.refs() == 1, "Unadvise lets go of the sink");
        check(point->Unadvise(cookie) == CONNECT_E_NOCONNECTION, "a cookie disconnects once");
    }
    if (point)
        point->Release();
    if (container)
        container->Release();
    if (smtp)
        smtp->Release();
}

void CheckCalls()
{
    _TolvanSMTP* smtp = nullptr;
    CoCreateInstance(Guid(TypeNamed("TolvanSMTP").guid), nullptr, CLSCTX_INPROC_SERVER, Guid(TypeNamed("_TolvanSMTP").guid),
                     reinterpret_cast<void**>(&smtp));
    _TolvanPOP3* pop3 = nullptr;
    CoCreateInstance(Guid(TypeNamed("TolvanPOP3").guid), nullptr, CLSCTX_INPROC_SERVER, Guid(TypeNamed("_TolvanPOP3").guid),
                     reinterpret_cast<void**>(&pop3));
    check(smtp && pop3, "components created with their dual interfaces");
    if (!smtp || !pop3)
        return;

    // Text crosses through the system's code page: what is written reads back the same,
    // early-bound and by name.
    const wchar_t* subject = L"Gr\u00FC\u00DFe \u00E0 tous";
    BSTR written = SysAllocString(subject);
    BSTR read = nullptr;
    check(SUCCEEDED(smtp->put_Subject(written)) && SUCCEEDED(smtp->get_Subject(&read)) && read &&
              std::wcscmp(read, subject) == 0,
          "a property written through the vtable reads back the same text");
    SysFreeString(written);
    SysFreeString(read);
    VARIANT value;
    check(SUCCEEDED(GetByName(smtp, L"SUBJECT", value)) && V_VT(&value) == VT_BSTR && std::wcscmp(V_BSTR(&value), subject) == 0,
          "the same property read by name in another letter case");
    VariantClear(&value);

    // A collection from a component: errors, enumeration, and the object handed back in.
    IDispatch* list = nullptr;
    check(SUCCEEDED(pop3->get_Messages(&list)) && list, "Messages of a new POP3 component");
    Messages* messages = Query<Messages>(list, Guid(TypeNamed("Messages").guid));
    check(messages != nullptr, "Messages answers its dual interface");
    if (messages) {
        VARIANT index;
        VariantInit(&index);
        V_VT(&index) = VT_I4;
        V_I4(&index) = 1;
        IDispatch* item = nullptr;
        SetErrorInfo(0, nullptr);
        const HRESULT hr = messages->Item(index, &item);
        IErrorInfo* error = nullptr;
        BSTR description = nullptr, source = nullptr;
        if (GetErrorInfo(0, &error) == S_OK) {
            error->GetDescription(&description);
            error->GetSource(&source);
            error->Release();
        }
        check(hr == static_cast<HRESULT>(0x800A0009) && item == nullptr, "Item(1) of an empty collection fails with 0x800A0009");
        check(description && std::wcsstr(description, L"out of range") && source &&
                  std::wcscmp(source, L"TolvanMail.Messages") == 0,
              "and its error info says so: " + Narrow(description) + " / " + Narrow(source));
        SysFreeString(description);
        SysFreeString(source);

        EXCEPINFO exception{};
        check(GetByName(list, L"Item", value, &exception, &index) == DISP_E_EXCEPTION &&
                  exception.scode == static_cast<SCODE>(0x800A0009) && exception.bstrDescription,
              "the same late-bound: DISP_E_EXCEPTION with the code and text in EXCEPINFO");
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);

        IUnknown* unknown = nullptr;
        IEnumVARIANT* items = nullptr;
        if (SUCCEEDED(messages->get_NewEnum(&unknown)) && unknown)
            items = Query<IEnumVARIANT>(unknown, IID_IEnumVARIANT);
        VARIANT next[2];
        ULONG fetched = 7;
        check(items && items->Next(2, next, &fetched) == S_FALSE && fetched == 0, "NewEnum of an empty collection ends at once");
        if (items)
            items->Release();
        if (unknown)
            unknown->Release();

        // The library's own object goes back in; another of its objects of the wrong kind does not.
        IDispatch* again = nullptr;
        LONG count = -1;
        check(SUCCEEDED(pop3->putref_Messages(list)) && SUCCEEDED(pop3->get_Messages(&again)) && again,
              "a collection handed back in is taken");
        Messages* typedAgain = Query<Messages>(again, Guid(TypeNamed("Messages").guid));
        check(typedAgain && SUCCEEDED(typedAgain->get_Count(&count)) && count == 0, "and reads as the collection");
        if (typedAgain)
            typedAgain->Release();
        if (again)
            again->Release();
        check(FAILED(pop3->putref_Messages(smtp)), "a component handed in as a collection is refused");
        messages->Release();
    }
    if (list)
        list->Release();
    smtp->Release();
    pop3->Release();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: automation_client <tolmail.dll>\n");
        return 2;
    }
    std::wstring path(argv[1], argv[1] + std::strlen(argv[1]));
    CoInitialize(nullptr);
    HMODULE dll = LoadLibraryW(path.c_str());
    check(dll != nullptr, "the DLL loads");
    if (!dll)
        return windows_test::finish();
    using CanUnload = HRESULT(WINAPI*)();
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    check(canUnload && getClassObject, "the entry points are exported by their plain names");
    if (!canUnload || !getClassObject)
        return windows_test::finish();

    ITypeLib* library = nullptr;
    check(SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)), "the type library is embedded");
    if (library) {
        TLIBATTR* attributes = nullptr;
        library->GetLibAttr(&attributes);
        const auto& expected = tolmail::server::TheLibrary();
        check(IsEqualGUID(attributes->guid, Guid(expected.guid)) && attributes->wMajorVerNum == expected.majorVersion &&
                  attributes->wMinorVerNum == expected.minorVersion && attributes->lcid == expected.lcid,
              "the type library's identity, version and locale");
        library->ReleaseTLibAttr(attributes);
        const TmLibraryDesc& tables = tolmail::server::DescriptionOf(expected).desc();
        check(library->GetTypeInfoCount() == tables.typeCount, "as many types as the tables have");
        for (uint32_t i = 0; i < tables.typeCount; ++i)
            if (tables.types[i].kind == TM_TKIND_INTERFACE || tables.types[i].kind == TM_TKIND_DISPATCH)
                CompareWithTables(library, tables.types[i]);
        library->Release();
    }

    CheckComponent("TolvanSocket", "_TolvanSocket", "__TolvanSocket");
    CheckComponent("TolvanSMTP", "_TolvanSMTP", "__TolvanSMTP");
    CheckComponent("TolvanPOP3", "_TolvanPOP3", "__TolvanPOP3");
    CheckCalls();
    CheckEvents();

    // Only the three components have class objects.
    void* factory = nullptr;
    for (const char* type : {"Message", "Messages", "Attachment", "Attachments", "Recipient", "Recipients"})
        check(getClassObject(Guid(TypeNamed(type).guid), IID_IClassFactory, &factory) == CLASS_E_CLASSNOTAVAILABLE,
              std::string("no class object for ") + type);

    check(canUnload() == S_OK, "unloadable once every object was released");
    IClassFactory* smtpFactory = nullptr;
    getClassObject(Guid(TypeNamed("TolvanSMTP").guid), IID_IClassFactory, reinterpret_cast<void**>(&smtpFactory));
    // A class object alone does not pin the library (script engines keep theirs); a lock does.
    check(smtpFactory && canUnload() == S_OK, "a class object held without a lock keeps nothing loaded");
    if (smtpFactory) {
        smtpFactory->LockServer(TRUE);
        smtpFactory->Release();
        check(canUnload() == S_FALSE, "not while the server is locked");
        getClassObject(Guid(TypeNamed("TolvanSMTP").guid), IID_IClassFactory, reinterpret_cast<void**>(&smtpFactory));
        smtpFactory->LockServer(FALSE);
        IUnknown* made = nullptr;
        smtpFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made));
        smtpFactory->Release();
        check(made && canUnload() == S_FALSE, "not while an object is alive");
        if (made)
            made->Release();
        check(canUnload() == S_OK, "unloadable again after the lock and the object are gone");
    }
    CoUninitialize();
    return windows_test::finish();
}
