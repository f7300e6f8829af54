/** \file
 * The automation ABI of libtolmail: what a host that knows nothing at compile time uses to
 * create the components by class, call their members by name and receive their events.
 *
 * Plain C, so that any language with a foreign-function interface can drive it (the Python
 * package in python/tolmail does so through ctypes). The shapes follow the automation model
 * that script hosts know: an object is a pointer to a table of functions whose first three
 * manage its identity and reference count; members are found by name (any letter case) and
 * invoked by dispatch id with variant arguments; errors are 32-bit result codes, with the
 * details of an automation error in a TmErrorInfo.
 *
 * Ownership, the one rule to remember: every string or byte array inside a variant that the
 * library hands out (a result, a by-reference argument it wrote, an event argument it owns)
 * was allocated by the library and is released with TmVariantClear; a by-value argument is
 * only read, so a host may point it at its own memory for the length of the call.
 *
 * Threading: an object lives on the thread that created it. Its events are raised on that
 * thread, inside a waiting call of the library or inside TmPumpMessages. A call from any
 * other thread fails with TM_RPC_E_WRONG_THREAD and touches nothing.
 */
#ifndef TOLMAIL_AUTOMATION_H
#define TOLMAIL_AUTOMATION_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Marks a C function or object that the library exports. */
#if defined(_WIN32)
#define TOLMAIL_C_API
#else
#define TOLMAIL_C_API __attribute__((visibility("default")))
#endif

/* ---- Result codes (the HRESULT values an automation host would see) ---------------- */

/** A result code: zero or positive for success, negative for failure. */
typedef int32_t TmResult;

#define TM_SUCCEEDED(r) ((TmResult)(r) >= 0) /**< True for a success code (zero or positive). */
#define TM_S_OK ((TmResult)0) /**< Success. */
#define TM_S_FALSE ((TmResult)1) /**< Success, answering "no" (DllCanUnloadNow; an enumerator with fewer items left). */
#define TM_E_NOINTERFACE ((TmResult)0x80004002) /**< The object does not implement the interface asked for. */
#define TM_E_POINTER ((TmResult)0x80004003) /**< A pointer argument is NULL. */
#define TM_E_FAIL ((TmResult)0x80004005) /**< An unspecified failure (the error info says more). */
#define TM_E_OUTOFMEMORY ((TmResult)0x8007000E) /**< Memory ran out. */
#define TM_E_INVALIDARG ((TmResult)0x80070057) /**< An argument is invalid. */
#define TM_CLASS_E_NOAGGREGATION ((TmResult)0x80040110) /**< Aggregation was asked for; the classes do not support it. */
#define TM_CLASS_E_CLASSNOTAVAILABLE ((TmResult)0x80040111) /**< No class object for this class id (the non-creatable types among them). */
#define TM_DISP_E_MEMBERNOTFOUND ((TmResult)0x80020003) /**< No member with this dispatch id, or not with this invoke flag. */
#define TM_DISP_E_PARAMNOTFOUND ((TmResult)0x80020004) /**< As the code of a TM_VT_ERROR argument: the argument was left out. */
#define TM_DISP_E_TYPEMISMATCH ((TmResult)0x80020005) /**< An argument does not convert to the parameter's type. */
#define TM_DISP_E_UNKNOWNNAME ((TmResult)0x80020006) /**< No member of that name. */
#define TM_DISP_E_EXCEPTION ((TmResult)0x80020009) /**< The member raised an automation error; the details are in the TmErrorInfo. */
#define TM_DISP_E_OVERFLOW ((TmResult)0x8002000A) /**< An argument is out of the parameter type's range. */
#define TM_DISP_E_BADPARAMCOUNT ((TmResult)0x8002000E) /**< Too many or too few arguments. */
#define TM_DISP_E_PARAMNOTOPTIONAL ((TmResult)0x8002000F) /**< A required argument was left out. */
#define TM_RPC_E_WRONG_THREAD ((TmResult)0x8001010E) /**< The object belongs to another thread. */
#define TM_SELFREG_E_CLASS ((TmResult)0x80040201) /**< The registration file could not be written. */

/* ---- Identifiers --------------------------------------------------------------------- */

/** A class, interface or library identifier. */
typedef struct TmGuid {
    uint32_t data1;   /**< The first 8 hex digits. */
    uint16_t data2;   /**< The next 4. */
    uint16_t data3;   /**< The next 4. */
    uint8_t data4[8]; /**< The last 16, two per byte. */
} TmGuid;

/** The standard interface identifiers an automation host asks for. The library's own
 * interfaces (one per dual interface of the type library) are in its description. */
TOLMAIL_C_API extern const TmGuid TM_IID_IUnknown; /**< {00000000-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IDispatch; /**< {00020400-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IClassFactory; /**< {00000001-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IEnumVARIANT; /**< {00020404-0000-0000-C000-000000000046} */

/* ---- Variants -------------------------------------------------------------------------- */

/** The kind of value a TmVariant holds. */
typedef uint16_t TmVarType;
#define TM_VT_EMPTY ((TmVarType)0) /**< No value. */
#define TM_VT_NULL ((TmVarType)1) /**< The null value. */
#define TM_VT_I2 ((TmVarType)2) /**< A 16-bit integer in u.i2. */
#define TM_VT_I4 ((TmVarType)3) /**< A 32-bit integer in u.i4. */
#define TM_VT_R4 ((TmVarType)4) /**< A single-precision number in u.r4. */
#define TM_VT_R8 ((TmVarType)5) /**< A double-precision number in u.r8. */
#define TM_VT_BSTR ((TmVarType)8) /**< A string in u.str: bytes, UTF-8 by convention. */
#define TM_VT_DISPATCH ((TmVarType)9) /**< An object in u.object (a counted reference). */
#define TM_VT_ERROR ((TmVarType)10) /**< A result code in u.scode; TM_DISP_E_PARAMNOTFOUND marks a left-out argument. */
#define TM_VT_BOOL ((TmVarType)11) /**< A Boolean in u.boolean: -1 true, 0 false. */
#define TM_VT_VARIANT ((TmVarType)12) /**< A variant; only with TM_VT_BYREF. */
#define TM_VT_UNKNOWN ((TmVarType)13) /**< An object known only by identity in u.unknown (enumerators). */
#define TM_VT_UI1 ((TmVarType)17) /**< An 8-bit unsigned integer in u.ui1. */
#define TM_VT_ARRAY ((TmVarType)0x2000) /**< Only as TM_VT_ARRAY | TM_VT_UI1: a byte array in u.str. */
#define TM_VT_BYREF ((TmVarType)0x4000) /**< Only as TM_VT_BYREF | TM_VT_VARIANT: a by-reference argument in u.ref. */

/** An object known by identity only. */
typedef struct TmUnknown TmUnknown;
/** An automation object: members by name and dispatch id. */
typedef struct TmDispatch TmDispatch;

/** An automation value: its kind in vt, the value in u. */
typedef struct TmVariant {
    TmVarType vt;       /**< The kind (TM_VT_*). */
    uint16_t reserved1; /**< Zero. */
    uint16_t reserved2; /**< Zero. */
    uint16_t reserved3; /**< Zero. */
    /** The value, by kind. */
    union {
        int16_t i2;      /**< TM_VT_I2. */
        int32_t i4;      /**< TM_VT_I4. */
        float r4;        /**< TM_VT_R4. */
        double r8;       /**< TM_VT_R8. */
        int16_t boolean; /**< TM_VT_BOOL: -1 true, 0 false. */
        uint8_t ui1;     /**< TM_VT_UI1. */
        int32_t scode;   /**< TM_VT_ERROR. */
        /** TM_VT_BSTR and byte arrays. */
        struct {
            char* data;      /**< Not terminated; may hold NUL bytes. */
            uint32_t length; /**< Bytes in data. */
        } str;
        TmDispatch* object;    /**< TM_VT_DISPATCH. */
        TmUnknown* unknown;    /**< TM_VT_UNKNOWN. */
        struct TmVariant* ref; /**< A by-reference argument: the callee may replace *ref. */
    } u;
} TmVariant;

/** Releases what the variant holds (library-allocated text, a reference) and leaves it
 * empty. Safe on an empty variant. */
TOLMAIL_C_API void TmVariantClear(TmVariant* variant);
/** Clears the variant, then stores a library-allocated copy of the text (or bytes). */
TOLMAIL_C_API TmResult TmVariantSetString(TmVariant* variant, const char* data, uint32_t length);
/** The same for a byte array (TM_VT_ARRAY | TM_VT_UI1). */
TOLMAIL_C_API TmResult TmVariantSetBytes(TmVariant* variant, const uint8_t* data, uint32_t length);

/* ---- Errors ------------------------------------------------------------------------- */

/** Filled by a call that fails with TM_DISP_E_EXCEPTION (an automation error raised by the
 * member: a bad index, a duplicate key, ...) and, as a courtesy, by every other failure of
 * Invoke, GetIDOfName and CreateInstance, so that a host always has a text to show. */
typedef struct TmErrorInfo {
    int32_t code;          /**< The automation error code (0x800A0009 bad index, ...). */
    char source[64];       /**< The class, e.g. "TolvanMail.Messages"; NUL-terminated. */
    char description[512]; /**< What went wrong, NUL-terminated (cut at a character boundary). */
} TmErrorInfo;

/* ---- Objects ---------------------------------------------------------------------------- */

/** The functions every object starts with. */
typedef struct TmUnknownVtbl {
    TmResult (*QueryInterface)(TmUnknown* self, const TmGuid* iid, void** object); /**< Asks for another interface of the same object (a counted reference). */
    uint32_t (*AddRef)(TmUnknown* self); /**< Adds a reference; returns the new count. */
    uint32_t (*Release)(TmUnknown* self); /**< Drops a reference; the object ends with the last one. */
} TmUnknownVtbl;
/** An object known by identity only. */
struct TmUnknown {
    const TmUnknownVtbl* vtbl; /**< Its functions. */
};

/** Invoke flags; a property get may be combined with TM_DISPATCH_METHOD (script engines ask
 * for both when they cannot tell). */
#define TM_DISPATCH_METHOD 1 /**< Call a method. */
#define TM_DISPATCH_PROPERTYGET 2 /**< Read a property. */
#define TM_DISPATCH_PROPERTYPUT 4 /**< Assign a value to a property (let). */
#define TM_DISPATCH_PROPERTYPUTREF 8 /**< Assign an object to a property (set). */

/** Dispatch ids with a fixed meaning. */
#define TM_DISPID_VALUE 0 /**< The default member (Item of a collection). */
#define TM_DISPID_NEWENUM (-4) /**< The enumerator of a collection. */

struct TmTypeDesc;

/** An event arrives as the event's dispatch id and its arguments in declaration order. A
 * by-reference event argument is TM_VT_BYREF | TM_VT_VARIANT; the handler may replace the
 * variant it points to (clear it first) to answer the component. The handler must not keep
 * the argument array after it returns. */
typedef void (*TmEventCallback)(void* context, int32_t dispid, TmVariant* args, uint32_t argCount);

/** The functions of an automation object. */
typedef struct TmDispatchVtbl {
    TmResult (*QueryInterface)(TmDispatch* self, const TmGuid* iid, void** object); /**< Asks for another interface of the same object (a counted reference). */
    uint32_t (*AddRef)(TmDispatch* self); /**< Adds a reference; returns the new count. */
    uint32_t (*Release)(TmDispatch* self); /**< Drops a reference; the object ends with the last one. */
    /** The interface this object implements, as the library description lists it. */
    const struct TmTypeDesc* (*GetTypeDesc)(TmDispatch* self);
    /** The dispatch id of a member, the name compared without regard to letter case. */
    TmResult (*GetIDOfName)(TmDispatch* self, const char* name, int32_t* dispid, TmErrorInfo* error);
    /** Calls a member. args[0] is the FIRST parameter (natural order); for a property put
     * the value to assign is the last argument. A left-out optional argument may be passed
     * as TM_VT_ERROR with TM_DISP_E_PARAMNOTFOUND, or omitted from the end. result may be
     * NULL; otherwise it must be initialised (empty) and receives the member's value.
     * error may be NULL. */
    TmResult (*Invoke)(TmDispatch* self, int32_t dispid, uint16_t flags, TmVariant* args, uint32_t argCount,
                       TmVariant* result, TmErrorInfo* error);
    /** Connects an event handler to a creatable component (TM_E_NOINTERFACE for objects
     * without events); the cookie disconnects it. A connection holds no reference to the
     * object: disconnect before the last Release, or the connection ends with the object. */
    TmResult (*Advise)(TmDispatch* self, TmEventCallback callback, void* context, uint32_t* cookie);
    TmResult (*Unadvise)(TmDispatch* self, uint32_t cookie); /**< Disconnects the event handler of this cookie. */
} TmDispatchVtbl;
/** An automation object. */
struct TmDispatch {
    const TmDispatchVtbl* vtbl; /**< Its functions. */
};

/** What NewEnum returns (as TM_VT_UNKNOWN; ask it for TM_IID_IEnumVARIANT). */
typedef struct TmEnumVariant TmEnumVariant;
/** The functions of an enumerator. */
typedef struct TmEnumVariantVtbl {
    TmResult (*QueryInterface)(TmEnumVariant* self, const TmGuid* iid, void** object); /**< Asks for another interface of the same object (a counted reference). */
    uint32_t (*AddRef)(TmEnumVariant* self); /**< Adds a reference; returns the new count. */
    uint32_t (*Release)(TmEnumVariant* self); /**< Drops a reference; the object ends with the last one. */
    /** Up to count items into items[0..count); *fetched (may be NULL) gets how many;
     * TM_S_FALSE when fewer than count were left. */
    TmResult (*Next)(TmEnumVariant* self, uint32_t count, TmVariant* items, uint32_t* fetched);
    TmResult (*Skip)(TmEnumVariant* self, uint32_t count); /**< Skips count items; TM_S_FALSE when fewer were left. */
    TmResult (*Reset)(TmEnumVariant* self); /**< Starts again at the first item. */
    TmResult (*Clone)(TmEnumVariant* self, TmEnumVariant** copy); /**< A new enumerator at the same place. */
} TmEnumVariantVtbl;
/** An enumerator over a collection's items. */
struct TmEnumVariant {
    const TmEnumVariantVtbl* vtbl; /**< Its functions. */
};

/* ---- Class objects ------------------------------------------------------------------ */

/** The class object of a creatable class. */
typedef struct TmClassFactory TmClassFactory;
/** The functions of a class object. */
typedef struct TmClassFactoryVtbl {
    TmResult (*QueryInterface)(TmClassFactory* self, const TmGuid* iid, void** object); /**< Asks for another interface of the same object (a counted reference). */
    uint32_t (*AddRef)(TmClassFactory* self); /**< Adds a reference; returns the new count. */
    uint32_t (*Release)(TmClassFactory* self); /**< Drops a reference; the object ends with the last one. */
    /** outer must be NULL (no aggregation); iid NULL means the default interface. */
    TmResult (*CreateInstance)(TmClassFactory* self, TmUnknown* outer, const TmGuid* iid, void** object);
    /** A locked class object keeps the library from unloading (DllCanUnloadNow). */
    TmResult (*LockServer)(TmClassFactory* self, int32_t lock);
} TmClassFactoryVtbl;
/** A class object: creates objects of its class. */
struct TmClassFactory {
    const TmClassFactoryVtbl* vtbl; /**< Its functions. */
};

/* ---- The type library's description --------------------------------------------------- */

/** Kinds of type, as a type library has them. */
#define TM_TKIND_ENUM 0 /**< An enumeration. */
#define TM_TKIND_INTERFACE 3 /**< A dual interface (TM_TYPEFLAG_DUAL). */
#define TM_TKIND_DISPATCH 4 /**< An event (dispatch-only) interface. */
#define TM_TKIND_COCLASS 5 /**< A class. */

#define TM_TYPEFLAG_CANCREATE 0x2 /**< A host may create the class. */
#define TM_TYPEFLAG_HIDDEN 0x10 /**< Not shown to users of a type browser. */
#define TM_TYPEFLAG_DUAL 0x40 /**< Reachable both by dispatch id and by slot. */
#define TM_TYPEFLAG_NONEXTENSIBLE 0x80 /**< Has no members beyond those described. */
#define TM_TYPEFLAG_OLEAUTOMATION 0x100 /**< Uses automation types only. */

#define TM_FUNCFLAG_HIDDEN 0x40 /**< A hidden member (NewEnum). */

#define TM_PARAMFLAG_IN 0x1 /**< An input. */
#define TM_PARAMFLAG_OUT 0x2 /**< An output. */
#define TM_PARAMFLAG_OPTIONAL 0x10 /**< May be left out. */
#define TM_PARAMFLAG_BYREF 0x1000 /**< Passed by reference (the library's own flag). */

/** A parameter as the type library declares it. */
typedef struct TmParamDesc {
    const char* name; /**< The parameter's name. */
    TmVarType type; /**< TM_VT_VARIANT for a variant parameter. */
    uint16_t flags; /**< TM_PARAMFLAG_*. */
} TmParamDesc;

/** One entry per slot: a property with both accessors has two entries, get first unless
 * the property was declared put first. */
typedef struct TmFuncDesc {
    const char* name; /**< The member's name. */
    int32_t dispid; /**< Its dispatch id. */
    uint16_t invokeKind; /**< Exactly one TM_DISPATCH_* flag. */
    uint16_t flags;      /**< TM_FUNCFLAG_*. */
    TmVarType resultType; /**< TM_VT_EMPTY for none. */
    uint16_t paramCount; /**< How many parameters (a put's value included). */
    const TmParamDesc* params; /**< The parameters in order. */
    const char* help; /**< "" when none. */
} TmFuncDesc;

/** A value of an enumeration. */
typedef struct TmEnumValueDesc {
    const char* name; /**< The value's name. */
    int32_t value; /**< The value. */
} TmEnumValueDesc;

/** One type of the type library. */
typedef struct TmTypeDesc {
    const char* name; /**< The type's name. */
    uint16_t kind;  /**< TM_TKIND_*. */
    uint16_t flags; /**< TM_TYPEFLAG_*. */
    TmGuid guid; /**< Its identifier. */
    const char* help; /**< Its help string ("" when none). */
    uint32_t funcCount; /**< Interfaces: the slots after the base interfaces' seven, in order. */
    const TmFuncDesc* funcs; /**< The slots. */
    uint32_t valueCount; /**< Enumerations. */
    const TmEnumValueDesc* values; /**< The values. */
    const struct TmTypeDesc* defaultInterface; /**< Classes. */
    const struct TmTypeDesc* eventInterface;   /**< Classes with events. */
} TmTypeDesc;

/** The type library: its identity and its types in order of declaration. */
typedef struct TmLibraryDesc {
    const char* name; /**< "TolvanMail". */
    TmGuid guid; /**< Its identifier. */
    uint16_t majorVersion; /**< 40. */
    uint16_t minorVersion; /**< 0. */
    uint32_t lcid; /**< The locale: 1033. */
    const char* help; /**< Its help string. */
    uint32_t typeCount; /**< In their order of declaration. */
    const TmTypeDesc* types; /**< The types. */
} TmLibraryDesc;

/** The library's description, built once from its tables; valid while the library is loaded. */
TOLMAIL_C_API const TmLibraryDesc* TmGetLibraryDesc(void);

/* ---- The thread's message loop ------------------------------------------------------- */

/** A descriptor that polls readable whenever this thread's loop has work due; a host with
 * its own event loop watches it and calls TmPumpMessages, so that events also arrive while
 * no library call is waiting. */
TOLMAIL_C_API int32_t TmMessageLoopDescriptor(void);
/** Delivers everything that is due on this thread without blocking. */
TOLMAIL_C_API void TmPumpMessages(void);

/* ---- The four entry points of the server ----------------------------------------------- */

/* On Windows the DLL exports the system's own four entry points (declared by its headers,
 * with its identifier types) and keeps its registration in the system registry. */
#if !defined(_WIN32)

/** The class object of TolvanSocket, TolvanSMTP or TolvanPOP3, by class id. Any other class
 * id (the library's non-creatable types among them) gives TM_CLASS_E_CLASSNOTAVAILABLE. */
TOLMAIL_C_API TmResult DllGetClassObject(const TmGuid* clsid, const TmGuid* iid, void** object);
/** TM_S_OK when no object of the library is alive and no class object is locked, else TM_S_FALSE.
 * An unlocked class object does not count: a host that keeps one to create from later locks it. */
TOLMAIL_C_API TmResult DllCanUnloadNow(void);
/** Records this library's entries in the per-user registration file
 * `${XDG_DATA_HOME:-$HOME/.local/share}/tolmail/registry`: a text file, written atomically,
 * one entry per line, fields separated by one TAB:
 *
 *     progid   ProgID   {CLSID}
 *     clsid    {CLSID}  class-name  Apartment  absolute-path-of-the-library
 *     typelib  {LIBID}  library-name  major.minor  lcid  absolute-path-of-the-library
 *
 * Lines of other kinds or of other libraries are kept as they stand; '#' starts a comment.
 * A host resolves "TolvanMail.TolvanSMTP" through the progid line, then loads the library
 * that the clsid line names and asks it for the class object. */
TOLMAIL_C_API TmResult DllRegisterServer(void);
/** Removes exactly the entries DllRegisterServer writes, keeping every other line. */
TOLMAIL_C_API TmResult DllUnregisterServer(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* TOLMAIL_AUTOMATION_H */
