// Writes, from the automation tables, the two things the Windows server needs that a
// compiler cannot derive by itself: the IDL of the type library (compiled by widl) and the
// vtable methods of every dual interface (each packs its typed arguments for the core's
// Invoke). Both come from the same description, so that a slot, a dispatch id or a
// parameter can never differ between the type library and the code behind it.
//
//   emit_idl <tolmail.idl> <dual_interfaces.cpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/guid.h"
#include "server/library_desc.h"
#include "server/type_table.h"

namespace {

using tolmail::server::DescriptionOf;
using tolmail::server::TheLibrary;

/// The registry form without its braces, as IDL writes it.
std::string IdlGuid(const TmGuid& g)
{
    const std::string text = tolmail::server::GuidText(g);
    return text.substr(1, text.size() - 2);
}

std::string GuidInitializer(const TmGuid& g)
{
    char text[96];
    std::snprintf(text, sizeof text, "{0x%08X, 0x%04X, 0x%04X, {0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X}}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                  g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

/// How one automation type appears in the IDL, in the C++ of a vtable method, and which
/// VARTYPE the call's result is converted to.
struct TypeSpelling {
    const char* idl;
    const char* cpp;
    const char* vartype;
};

TypeSpelling Spelling(TmVarType type)
{
    switch (type) {
    case TM_VT_I2: return {"short", "SHORT", "VT_I2"};
    case TM_VT_I4: return {"long", "LONG", "VT_I4"};
    case TM_VT_R4: return {"float", "FLOAT", "VT_R4"};
    case TM_VT_R8: return {"double", "DOUBLE", "VT_R8"};
    case TM_VT_BSTR: return {"BSTR", "BSTR", "VT_BSTR"};
    case TM_VT_DISPATCH: return {"IDispatch*", "IDispatch*", "VT_DISPATCH"};
    case TM_VT_BOOL: return {"VARIANT_BOOL", "VARIANT_BOOL", "VT_BOOL"};
    case TM_VT_VARIANT: return {"VARIANT", "VARIANT", "VT_VARIANT"};
    case TM_VT_UNKNOWN: return {"IUnknown*", "IUnknown*", "VT_UNKNOWN"};
    case TM_VT_UI1: return {"unsigned char", "BYTE", "VT_UI1"};
    default:
        throw std::runtime_error("no IDL spelling for variant type " + std::to_string(type));
    }
}

std::string Quoted(const char* text)
{
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\')
            out += '\\';
        out += *c;
    }
    return out + "\"";
}

/// A parameter that may be left out, or that the callee writes back, is a VARIANT whatever
/// its declared type: that is what a script can pass in either case, and the core coerces.
bool PassedAsVariant(const TmParamDesc& p)
{
    return (p.flags & (TM_PARAMFLAG_OPTIONAL | TM_PARAMFLAG_BYREF)) != 0;
}

std::string IdlParam(const TmParamDesc& p)
{
    if (p.flags & TM_PARAMFLAG_BYREF)
        return std::string("[in, out] VARIANT* ") + p.name;
    if (p.flags & TM_PARAMFLAG_OPTIONAL)
        return std::string("[in, optional] VARIANT ") + p.name;
    return std::string("[in] ") + Spelling(p.type).idl + " " + p.name;
}

/// An event's parameter keeps its declared type; one the handler may answer through is a
/// pointer to it (the sink gets VT_BYREF with that type).
std::string EventParam(const TmParamDesc& p)
{
    if (p.flags & TM_PARAMFLAG_BYREF)
        return std::string("[in, out] ") + Spelling(p.type).idl + "* " + p.name;
    return std::string("[in] ") + Spelling(p.type).idl + " " + p.name;
}

const char* AccessorAttribute(uint16_t invokeKind)
{
    switch (invokeKind) {
    case TM_DISPATCH_PROPERTYGET: return ", propget";
    case TM_DISPATCH_PROPERTYPUT: return ", propput";
    case TM_DISPATCH_PROPERTYPUTREF: return ", propputref";
    default: return "";
    }
}

const char* AccessorPrefix(uint16_t invokeKind)
{
    switch (invokeKind) {
    case TM_DISPATCH_PROPERTYGET: return "get_";
    case TM_DISPATCH_PROPERTYPUT: return "put_";
    case TM_DISPATCH_PROPERTYPUTREF: return "putref_";
    default: return "";
    }
}

const char* InvokeFlag(uint16_t invokeKind)
{
    switch (invokeKind) {
    case TM_DISPATCH_PROPERTYGET: return "DISPATCH_PROPERTYGET";
    case TM_DISPATCH_PROPERTYPUT: return "DISPATCH_PROPERTYPUT";
    case TM_DISPATCH_PROPERTYPUTREF: return "DISPATCH_PROPERTYPUTREF";
    default: return "DISPATCH_METHOD";
    }
}

std::string TypeAttributes(const TmTypeDesc& type, bool isInterface)
{
    std::string out = "    [\n";
    if (isInterface)
        out += "        object,\n";
    out += "        uuid(" + IdlGuid(type.guid) + ")";
    if (type.flags & TM_TYPEFLAG_DUAL)
        out += ",\n        dual";
    if (type.flags & TM_TYPEFLAG_NONEXTENSIBLE)
        out += ",\n        nonextensible";
    if (type.flags & TM_TYPEFLAG_OLEAUTOMATION)
        out += ",\n        oleautomation";
    if (type.flags & TM_TYPEFLAG_HIDDEN)
        out += ",\n        hidden";
    if (type.kind == TM_TKIND_COCLASS && !(type.flags & TM_TYPEFLAG_CANCREATE))
        out += ",\n        noncreatable";
    if (*type.help)
        out += ",\n        helpstring(" + Quoted(type.help) + ")";
    return out + "\n    ]\n";
}

void EmitInterface(std::ostream& idl, const TmTypeDesc& type)
{
    idl << TypeAttributes(type, true) << "    interface " << type.name << " : IDispatch\n    {\n";
    for (uint32_t i = 0; i < type.funcCount; ++i) {
        const TmFuncDesc& f = type.funcs[i];
        idl << "        [id(" << f.dispid << ")" << AccessorAttribute(f.invokeKind);
        if (f.flags & TM_FUNCFLAG_HIDDEN)
            idl << ", hidden";
        if (*f.help)
            idl << ", helpstring(" << Quoted(f.help) << ")";
        idl << "]\n        HRESULT " << f.name << "(";
        std::vector<std::string> params;
        for (uint16_t p = 0; p < f.paramCount; ++p)
            params.push_back(IdlParam(f.params[p]));
        if (f.resultType != TM_VT_EMPTY)
            params.push_back(std::string("[out, retval] ") + Spelling(f.resultType).idl + "* result");
        for (size_t p = 0; p < params.size(); ++p)
            idl << (p ? ", " : "") << params[p];
        idl << ");\n";
    }
    idl << "    };\n\n";
}

void EmitEvents(std::ostream& idl, const TmTypeDesc& type)
{
    idl << TypeAttributes(type, false) << "    dispinterface " << type.name
        << "\n    {\n    properties:\n    methods:\n";
    for (uint32_t i = 0; i < type.funcCount; ++i) {
        const TmFuncDesc& f = type.funcs[i];
        idl << "        [id(" << f.dispid << ")] void " << f.name << "(";
        for (uint16_t p = 0; p < f.paramCount; ++p)
            idl << (p ? ", " : "") << EventParam(f.params[p]);
        idl << ");\n";
    }
    idl << "    };\n\n";
}

void EmitClass(std::ostream& idl, const TmTypeDesc& type)
{
    idl << TypeAttributes(type, false) << "    coclass " << type.name << "\n    {\n";
    if (type.defaultInterface)
        idl << "        [default] interface " << type.defaultInterface->name << ";\n";
    if (type.eventInterface)
        idl << "        [default, source] dispinterface " << type.eventInterface->name << ";\n";
    idl << "    };\n\n";
}

void EmitEnum(std::ostream& idl, const TmTypeDesc& type)
{
    idl << "    typedef [uuid(" << IdlGuid(type.guid) << ")";
    if (*type.help)
        idl << ", helpstring(" << Quoted(type.help) << ")";
    idl << "]\n    enum " << type.name << "\n    {\n";
    for (uint32_t i = 0; i < type.valueCount; ++i)
        idl << "        " << type.values[i].name << " = " << type.values[i].value
            << (i + 1 < type.valueCount ? ",\n" : "\n");
    idl << "    } " << type.name << ";\n\n";
}

void EmitIdl(std::ostream& idl, const TmLibraryDesc& lib)
{
    idl << "// Generated from the automation tables by emit_idl: edit the tables, not this file.\n"
        << "import \"oaidl.idl\";\nimport \"ocidl.idl\";\n\n"
        << "[\n    uuid(" << IdlGuid(lib.guid) << "),\n    version(" << lib.majorVersion << "."
        << lib.minorVersion << "),\n    lcid(" << lib.lcid << ")";
    if (*lib.help)
        idl << ",\n    helpstring(" << Quoted(lib.help) << ")";
    idl << "\n]\nlibrary " << lib.name << "\n{\n    importlib(\"stdole2.tlb\");\n\n";
    // widl mistranslates a class that names an event interface defined after it (it writes
    // over the library's identifier), so such an interface moves up to just before its
    // class; every other type keeps its place.
    std::set<const TmTypeDesc*> written;
    const auto emit = [&](const TmTypeDesc& type) {
        if (!written.insert(&type).second)
            return;
        switch (type.kind) {
        case TM_TKIND_INTERFACE: EmitInterface(idl, type); break;
        case TM_TKIND_DISPATCH: EmitEvents(idl, type); break;
        case TM_TKIND_COCLASS: EmitClass(idl, type); break;
        case TM_TKIND_ENUM: EmitEnum(idl, type); break;
        default: throw std::runtime_error(std::string("unknown kind of type ") + type.name);
        }
    };
    for (uint32_t i = 0; i < lib.typeCount; ++i) {
        const TmTypeDesc& type = lib.types[i];
        if (type.kind == TM_TKIND_COCLASS && type.eventInterface)
            emit(*type.eventInterface);
        emit(type);
    }
    idl << "}\n";
}

void EmitMethod(std::ostream& cpp, const TmFuncDesc& f)
{
    cpp << "    HRESULT STDMETHODCALLTYPE " << AccessorPrefix(f.invokeKind) << f.name << "(";
    for (uint16_t p = 0; p < f.paramCount; ++p) {
        const TmParamDesc& param = f.params[p];
        cpp << (p ? ", " : "");
        if (param.flags & TM_PARAMFLAG_BYREF)
            cpp << "VARIANT* " << param.name;
        else if (PassedAsVariant(param))
            cpp << "VARIANT " << param.name;
        else
            cpp << Spelling(param.type).cpp << " " << param.name;
    }
    if (f.resultType != TM_VT_EMPTY)
        cpp << (f.paramCount ? ", " : "") << Spelling(f.resultType).cpp << "* result";
    cpp << ") override\n    {\n        CoreCall call(*this, " << f.dispid << ", " << InvokeFlag(f.invokeKind)
        << ");\n";
    for (uint16_t p = 0; p < f.paramCount; ++p) {
        const TmParamDesc& param = f.params[p];
        if (param.flags & TM_PARAMFLAG_BYREF)
            cpp << "        call.InOut(" << param.name << ");\n";
        else if (PassedAsVariant(param) || param.type == TM_VT_VARIANT)
            cpp << "        call.In(" << param.name << ");\n";
        else
            cpp << "        call.In(" << Spelling(param.type).vartype << ", &" << param.name << ");\n";
    }
    if (f.resultType != TM_VT_EMPTY)
        cpp << "        return call.Finish(" << Spelling(f.resultType).vartype << ", result);\n";
    else
        cpp << "        return call.Finish();\n";
    cpp << "    }\n";
}

void EmitVtables(std::ostream& cpp, const TmLibraryDesc& lib)
{
    cpp << "// Generated from the automation tables by emit_idl: edit the tables, not this file.\n"
        << "// The vtable methods of every dual interface, each a call of the core's Invoke.\n"
        << "#include \"server/win32/host_object.h\"\n#include \"tolmail_h.h\"\n\n"
        << "namespace tolmail::server::win32 {\nnamespace {\n\n";
    std::vector<const TmTypeDesc*> duals;
    for (uint32_t i = 0; i < lib.typeCount; ++i) {
        const TmTypeDesc& type = lib.types[i];
        if (type.kind != TM_TKIND_INTERFACE)
            continue;
        duals.push_back(&type);
        cpp << "class Host" << type.name << " final : public DualObject<::" << type.name << "> {\npublic:\n"
            << "    using DualObject::DualObject;\n\n";
        for (uint32_t f = 0; f < type.funcCount; ++f)
            EmitMethod(cpp, type.funcs[f]);
        cpp << "};\n\n";
    }
    cpp << "} // namespace\n\nIDispatch* NewDualObject(TmDispatch* core, const TmTypeDesc& type)\n{\n";
    for (const TmTypeDesc* type : duals) {
        cpp << "    static constexpr GUID k" << type->name << " = " << GuidInitializer(type->guid) << ";\n"
            << "    if (IsEqualGUID(AsGuid(type.guid), k" << type->name << "))\n"
            << "        return static_cast<::" << type->name << "*>(new Host" << type->name << "(core, type));\n";
    }
    cpp << "    return nullptr;\n}\n\n} // namespace tolmail::server::win32\n";
}

bool WriteIfChanged(const char* path, const std::string& text)
{
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream old;
        old << in.rdbuf();
        if (in && old.str() == text)
            return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: emit_idl <tolmail.idl> <dual_interfaces.cpp>\n";
        return 64;
    }
    try {
        const TmLibraryDesc& lib = DescriptionOf(TheLibrary()).desc();
        std::ostringstream idl, cpp;
        EmitIdl(idl, lib);
        EmitVtables(cpp, lib);
        if (!WriteIfChanged(argv[1], idl.str()) || !WriteIfChanged(argv[2], cpp.str())) {
            std::cerr << "emit_idl: cannot write the output\n";
            return 73;
        }
    } catch (const std::exception& e) {
        std::cerr << "emit_idl: " << e.what() << "\n";
        return 70;
    }
    return 0;
}
