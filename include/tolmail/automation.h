/* The automation ABI of libtolmail: what a host that knows nothing at compile time uses to
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

#if defined(_WIN32)
#define TOLMAIL_C_API
#else
#define TOLMAIL_C_API __attribute__((visibility("default")))
#endif

/* ---- Result codes (the HRESULT values an automation host would see) ---------------- */

typedef int32_t TmResult;

#define TM_SUCCEEDED(r) ((TmResult)(r) >= 0)
#define TM_S_OK ((TmResult)0)
#define TM_S_FALSE ((TmResult)1)
#define TM_E_NOINTERFACE ((TmResult)0x80004002)
#define TM_E_POINTER ((TmResult)0x80004003)
#define TM_E_FAIL ((TmResult)0x80004005)
#define TM_E_OUTOFMEMORY ((TmResult)0x8007000E)
#define TM_E_INVALIDARG ((TmResult)0x80070057)
#define TM_CLASS_E_NOAGGREGATION ((TmResult)0x80040110)
#define TM_CLASS_E_CLASSNOTAVAILABLE ((TmResult)0x80040111)
#define TM_DISP_E_MEMBERNOTFOUND ((TmResult)0x80020003)
#define TM_DISP_E_PARAMNOTFOUND ((TmResult)0x80020004)
#define TM_DISP_E_TYPEMISMATCH ((TmResult)0x80020005)
#define TM_DISP_E_UNKNOWNNAME ((TmResult)0x80020006)
#define TM_DISP_E_EXCEPTION ((TmResult)0x80020009) /* details in the TmErrorInfo */
#define TM_DISP_E_OVERFLOW ((TmResult)0x8002000A)
#define TM_DISP_E_BADPARAMCOUNT ((TmResult)0x8002000E)
#define TM_DISP_E_PARAMNOTOPTIONAL ((TmResult)0x8002000F)
#define TM_RPC_E_WRONG_THREAD ((TmResult)0x8001010E)
#define TM_SELFREG_E_CLASS ((TmResult)0x80040201)

/* ---- Identifiers --------------------------------------------------------------------- */

typedef struct TmGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} TmGuid;

/* The standard interface identifiers an automation host asks for. The library's own
 * interfaces (one per dual interface of the type library) are in its description. */
TOLMAIL_C_API extern const TmGuid TM_IID_IUnknown;     /* {00000000-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IDispatch;    /* {00020400-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IClassFactory; /* {00000001-0000-0000-C000-000000000046} */
TOLMAIL_C_API extern const TmGuid TM_IID_IEnumVARIANT; /* {00020404-0000-0000-C000-000000000046} */

/* ---- Variants -------------------------------------------------------------------------- */

typedef uint16_t TmVarType;
#define TM_VT_EMPTY ((TmVarType)0)
#define TM_VT_NULL ((TmVarType)1)
#define TM_VT_I2 ((TmVarType)2)
#define TM_VT_I4 ((TmVarType)3)
#define TM_VT_R4 ((TmVarType)4)
#define TM_VT_R8 ((TmVarType)5)
#define TM_VT_BSTR ((TmVarType)8)      /* a string: bytes, UTF-8 by convention, in u.str */
#define TM_VT_DISPATCH ((TmVarType)9)  /* an object: u.object (a counted reference) */
#define TM_VT_ERROR ((TmVarType)10)    /* u.scode; TM_DISP_E_PARAMNOTFOUND marks a left-out argument */
#define TM_VT_BOOL ((TmVarType)11)     /* u.boolean: -1 true, 0 false */
#define TM_VT_VARIANT ((TmVarType)12)  /* only with TM_VT_BYREF */
#define TM_VT_UNKNOWN ((TmVarType)13)  /* an object known only by identity: u.unknown (enumerators) */
#define TM_VT_UI1 ((TmVarType)17)
#define TM_VT_ARRAY ((TmVarType)0x2000) /* only as TM_VT_ARRAY | TM_VT_UI1: a byte array in u.str */
#define TM_VT_BYREF ((TmVarType)0x4000) /* only as TM_VT_BYREF | TM_VT_VARIANT: u.ref */

typedef struct TmUnknown TmUnknown;
typedef struct TmDispatch TmDispatch;

typedef struct TmVariant {
    TmVarType vt;
    uint16_t reserved1;
    uint16_t reserved2;
    uint16_t reserved3;
    union {
        int16_t i2;
        int32_t i4;
        float r4;
        double r8;
        int16_t boolean;
        uint8_t ui1;
        int32_t scode;
        struct {
            char* data; /* not terminated; may hold NUL bytes */
            uint32_t length;
        } str;
        TmDispatch* object;
        TmUnknown* unknown;
        struct TmVariant* ref; /* a by-reference argument: the callee may replace *ref */
    } u;
} TmVariant;

/* Releases what the variant holds (library-allocated text, a reference) and leaves it
 * empty. Safe on an empty variant. */
TOLMAIL_C_API void TmVariantClear(TmVariant* variant);
/* Clears the variant, then stores a library-allocated copy of the text (or bytes). */
TOLMAIL_C_API TmResult TmVariantSetString(TmVariant* variant, const char* data, uint32_t length);
TOLMAIL_C_API TmResult TmVariantSetBytes(TmVariant* variant, const uint8_t* data, uint32_t length);

/* ---- Errors ------------------------------------------------------------------------- */

/* Filled by a call that fails with TM_DISP_E_EXCEPTION (an automation error raised by the
 * member: a bad index, a duplicate key, ...) and, as a courtesy, by every other failure of
 * Invoke, GetIDOfName and CreateInstance, so that a host always has a text to show. */
typedef struct TmErrorInfo {
    int32_t code;           /* the automation error code (0x800A0009 bad index, ...) */
    char source[64];        /* the class, e.g. "TolvanMail.Messages"; NUL-terminated */
    char description[512];  /* what went wrong, NUL-terminated (cut at a character boundary) */
} TmErrorInfo;

/* ---- Objects ---------------------------------------------------------------------------- */

typedef struct TmUnknownVtbl {
    TmResult (*QueryInterface)(TmUnknown* self, const TmGuid* iid, void** object);
    uint32_t (*AddRef)(TmUnknown* self);
    uint32_t (*Release)(TmUnknown* self);
} TmUnknownVtbl;
struct TmUnknown {
    const TmUnknownVtbl* vtbl;
};

/* Invoke flags; a property get may be combined with TM_DISPATCH_METHOD (script engines ask
 * for both when they cannot tell). */
#define TM_DISPATCH_METHOD 1
#define TM_DISPATCH_PROPERTYGET 2
#define TM_DISPATCH_PROPERTYPUT 4    /* let: assign a value */
#define TM_DISPATCH_PROPERTYPUTREF 8 /* set: assign an object */

/* Dispatch ids with a fixed meaning. */
#define TM_DISPID_VALUE 0     /* the default member (Item of a collection) */
#define TM_DISPID_NEWENUM (-4) /* the enumerator of a collection */

struct TmTypeDesc;

/* An event arrives as the event's dispatch id and its arguments in declaration order. A
 * by-reference event argument is TM_VT_BYREF | TM_VT_VARIANT; the handler may replace the
 * variant it points to (clear it first) to answer the component. The handler must not keep
 * the argument array after it returns. */
typedef void (*TmEventCallback)(void* context, int32_t dispid, TmVariant* args, uint32_t argCount);

typedef struct TmDispatchVtbl {
    TmResult (*QueryInterface)(TmDispatch* self, const TmGuid* iid, void** object);
    uint32_t (*AddRef)(TmDispatch* self);
    uint32_t (*Release)(TmDispatch* self);
    /* The interface this object implements, as the library description lists it. */
    const struct TmTypeDesc* (*GetTypeDesc)(TmDispatch* self);
    /* The dispatch id of a member, the name compared without regard to letter case. */
    TmResult (*GetIDOfName)(TmDispatch* self, const char* name, int32_t* dispid, TmErrorInfo* error);
    /* Calls a member. args[0] is the FIRST parameter (natural order); for a property put
     * the value to assign is the last argument. A left-out optional argument may be passed
     * as TM_VT_ERROR with TM_DISP_E_PARAMNOTFOUND, or omitted from the end. result may be
     * NULL; otherwise it must be initialised (empty) and receives the member's value.
     * error may be NULL. */
    TmResult (*Invoke)(TmDispatch* self, int32_t dispid, uint16_t flags, TmVariant* args, uint32_t argCount,
                       TmVariant* result, TmErrorInfo* error);
    /* Connects an event handler to a creatable component (TM_E_NOINTERFACE for objects
     * without events); the cookie disconnects it. A connection holds no reference to the
     * object: disconnect before the last Release, or the connection ends with the object. */
    TmResult (*Advise)(TmDispatch* self, TmEventCallback callback, void* context, uint32_t* cookie);
    TmResult (*Unadvise)(TmDispatch* self, uint32_t cookie);
} TmDispatchVtbl;
struct TmDispatch {
    const TmDispatchVtbl* vtbl;
};

/* What NewEnum returns (as TM_VT_UNKNOWN; ask it for TM_IID_IEnumVARIANT). */
typedef struct TmEnumVariant TmEnumVariant;
typedef struct TmEnumVariantVtbl {
    TmResult (*QueryInterface)(TmEnumVariant* self, const TmGuid* iid, void** object);
    uint32_t (*AddRef)(TmEnumVariant* self);
    uint32_t (*Release)(TmEnumVariant* self);
    /* Up to count items into items[0..count); *fetched (may be NULL) gets how many;
     * TM_S_FALSE when fewer than count were left. */
    TmResult (*Next)(TmEnumVariant* self, uint32_t count, TmVariant* items, uint32_t* fetched);
    TmResult (*Skip)(TmEnumVariant* self, uint32_t count);
    TmResult (*Reset)(TmEnumVariant* self);
    TmResult (*Clone)(TmEnumVariant* self, TmEnumVariant** copy);
} TmEnumVariantVtbl;
struct TmEnumVariant {
    const TmEnumVariantVtbl* vtbl;
};

/* ---- Class objects ------------------------------------------------------------------ */

typedef struct TmClassFactory TmClassFactory;
typedef struct TmClassFactoryVtbl {
    TmResult (*QueryInterface)(TmClassFactory* self, const TmGuid* iid, void** object);
    uint32_t (*AddRef)(TmClassFactory* self);
    uint32_t (*Release)(TmClassFactory* self);
    /* outer must be NULL (no aggregation); iid NULL means the default interface. */
    TmResult (*CreateInstance)(TmClassFactory* self, TmUnknown* outer, const TmGuid* iid, void** object);
    /* A locked class object keeps the library from unloading (DllCanUnloadNow). */
    TmResult (*LockServer)(TmClassFactory* self, int32_t lock);
} TmClassFactoryVtbl;
struct TmClassFactory {
    const TmClassFactoryVtbl* vtbl;
};

/* ---- The type library's description --------------------------------------------------- */

/* Kinds of type, as a type library has them. */
#define TM_TKIND_ENUM 0
#define TM_TKIND_INTERFACE 3 /* a dual interface (TM_TYPEFLAG_DUAL) */
#define TM_TKIND_DISPATCH 4  /* an event (dispatch-only) interface */
#define TM_TKIND_COCLASS 5

#define TM_TYPEFLAG_CANCREATE 0x2
#define TM_TYPEFLAG_HIDDEN 0x10
#define TM_TYPEFLAG_DUAL 0x40
#define TM_TYPEFLAG_NONEXTENSIBLE 0x80
#define TM_TYPEFLAG_OLEAUTOMATION 0x100

#define TM_FUNCFLAG_HIDDEN 0x40

#define TM_PARAMFLAG_IN 0x1
#define TM_PARAMFLAG_OUT 0x2
#define TM_PARAMFLAG_OPTIONAL 0x10
#define TM_PARAMFLAG_BYREF 0x1000 /* passed by reference (the library's own flag) */

typedef struct TmParamDesc {
    const char* name;
    TmVarType type; /* TM_VT_VARIANT for a variant parameter */
    uint16_t flags; /* TM_PARAMFLAG_* */
} TmParamDesc;

/* One entry per slot: a property with both accessors has two entries, get first. */
typedef struct TmFuncDesc {
    const char* name;
    int32_t dispid;
    uint16_t invokeKind; /* exactly one TM_DISPATCH_* flag */
    uint16_t flags;      /* TM_FUNCFLAG_* */
    TmVarType resultType; /* TM_VT_EMPTY for none */
    uint16_t paramCount;
    const TmParamDesc* params;
    const char* help; /* "" when none */
} TmFuncDesc;

typedef struct TmEnumValueDesc {
    const char* name;
    int32_t value;
} TmEnumValueDesc;

typedef struct TmTypeDesc {
    const char* name;
    uint16_t kind;  /* TM_TKIND_* */
    uint16_t flags; /* TM_TYPEFLAG_* */
    TmGuid guid;
    const char* help;
    uint32_t funcCount; /* interfaces: the slots after the base interfaces' seven, in order */
    const TmFuncDesc* funcs;
    uint32_t valueCount; /* enumerations */
    const TmEnumValueDesc* values;
    const struct TmTypeDesc* defaultInterface; /* classes */
    const struct TmTypeDesc* eventInterface;   /* classes with events */
} TmTypeDesc;

typedef struct TmLibraryDesc {
    const char* name; /* "TolvanMail" */
    TmGuid guid;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint32_t lcid;
    const char* help;
    uint32_t typeCount; /* in their order of declaration */
    const TmTypeDesc* types;
} TmLibraryDesc;

TOLMAIL_C_API const TmLibraryDesc* TmGetLibraryDesc(void);

/* ---- The thread's message loop ------------------------------------------------------- */

/* A descriptor that polls readable whenever this thread's loop has work due; a host with
 * its own event loop watches it and calls TmPumpMessages, so that events also arrive while
 * no library call is waiting. */
TOLMAIL_C_API int32_t TmMessageLoopDescriptor(void);
/* Delivers everything that is due on this thread without blocking. */
TOLMAIL_C_API void TmPumpMessages(void);

/* ---- The four entry points of the server ----------------------------------------------- */

/* The class object of TolvanSocket, TolvanSMTP or TolvanPOP3, by class id. Any other class
 * id (the library's non-creatable types among them) gives TM_CLASS_E_CLASSNOTAVAILABLE. */
TOLMAIL_C_API TmResult DllGetClassObject(const TmGuid* clsid, const TmGuid* iid, void** object);
/* TM_S_OK when no object of the library is alive and no class object is locked, else TM_S_FALSE. */
TOLMAIL_C_API TmResult DllCanUnloadNow(void);
/* Records (or removes exactly) this library's entries in the per-user registration file:
 *   ${XDG_DATA_HOME:-$HOME/.local/share}/tolmail/registry
 * a text file, written atomically, one entry per line, fields separated by one TAB:
 *   progid   <ProgID>  <{CLSID}>
 *   clsid    <{CLSID}> <class name> Apartment <absolute path of the library>
 *   typelib  <{LIBID}> <library name> <major.minor> <lcid> <absolute path of the library>
 * Lines of other kinds or of other libraries are kept as they stand; '#' starts a comment.
 * A host resolves "TolvanMail.TolvanSMTP" through the progid line, then loads the library
 * that the clsid line names and asks it for the class object. */
TOLMAIL_C_API TmResult DllRegisterServer(void);
TOLMAIL_C_API TmResult DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif /* TOLMAIL_AUTOMATION_H */
