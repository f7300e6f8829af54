// The shape of the automation tables: one table per class (src/server/tables/*.cpp) says
// everything a host may know of it — names, order, dispatch ids, flags, help, identifiers —
// and how each member reaches the C++ object. The dispatch, the class objects, the exported
// description (TmGetLibraryDesc) and, on Windows, the IDL of the type library are all
// derived from these tables; nothing else may repeat what they say.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/hidden.h"
#include "tolmail/automation.h"
#include "tolmail/variant.h"

namespace tolmail::server {

class Arguments;

/// Which accessors a member has (the automation invoke flags; a property with Get and Let
/// takes two consecutive slots, get first unless the member says putFirst).
enum Access : uint16_t {
    Method = TM_DISPATCH_METHOD,
    Get = TM_DISPATCH_PROPERTYGET,
    Let = TM_DISPATCH_PROPERTYPUT,
    Set = TM_DISPATCH_PROPERTYPUTREF,
};

/// A parameter as the type library declares it.
struct TOLMAIL_HIDDEN Param {
    const char* name;
    TmVarType type;       // TM_VT_VARIANT for a variant
    uint16_t flags = 0;   // TM_PARAMFLAG_OPTIONAL, TM_PARAMFLAG_BYREF
};

/// Calls the C++ member for one accessor: `self` is the object (its C++ class is the one the
/// table belongs to), `args` the arguments already checked against the declared count, coerced
/// on request; the member's value goes into `result` (left empty for none). Automation errors
/// are thrown as tolmail::Error.
using Invoker = void (*)(void* self, Arguments& args, Variant& result);

/// One member of an interface, in slot order.
struct TOLMAIL_HIDDEN Member {
    const char* name;
    int32_t dispid;
    uint16_t access;           // Access bits: Method, or Get with optional Let/Set
    TmVarType type;            // the property's type, or the method's result (TM_VT_EMPTY: none)
    std::span<const Param> params = {};  // a method's parameters (properties here take none)
    Invoker get = nullptr;     // the method, or the property get
    Invoker put = nullptr;     // the property let/set
    bool hidden = false;
    /// The put's slot comes before the get's (as some properties were declared).
    bool putFirst = false;
    const char* help = "";
};

/// One event of an event interface: arguments in declaration order.
struct TOLMAIL_HIDDEN Event {
    const char* name;
    int32_t dispid;
    std::span<const Param> params;
};

/// Forwards an event of a component to a connected host: dispatch id and arguments in
/// declaration order; by-reference arguments may be changed by the host, and the caller
/// copies them back into the C++ event's parameters.
using EventForwarder = std::function<void(int32_t dispid, std::span<Variant> args)>;

/// A value of an enumeration.
struct TOLMAIL_HIDDEN EnumValue {
    const char* name;
    int32_t value;
};

/// One type of the type library, in its order of declaration.
struct TOLMAIL_HIDDEN TypeEntry {
    const char* name;
    uint16_t kind;   // TM_TKIND_*
    uint16_t flags;  // TM_TYPEFLAG_*
    TmGuid guid;
    const char* help = "";
    std::span<const Member> members = {};   // dual interfaces
    std::span<const Event> events = {};     // event interfaces
    std::span<const EnumValue> values = {}; // enumerations
    // Classes (coclasses):
    const TypeEntry* defaultInterface = nullptr;
    const TypeEntry* eventInterface = nullptr;
    /// Creates a new object of a creatable class (nullptr for the others).
    std::shared_ptr<void> (*create)() = nullptr;
    /// Connects / disconnects a host's event handler to an object of this class.
    uint32_t (*advise)(void* self, EventForwarder forward) = nullptr;
    void (*unadvise)(void* self, uint32_t cookie) = nullptr;
};

/// The library: name, identity and its types in order of declaration.
struct TOLMAIL_HIDDEN Library {
    const char* name;
    TmGuid guid;
    uint16_t majorVersion;
    uint16_t minorVersion;
    uint32_t lcid;
    const char* help;
    std::span<const TypeEntry* const> types;
};

/// The one library table (src/server/tables/library.cpp).
const Library& TheLibrary();

/// The interface entry of an object's C++ class, by the name its Variant Object carries
/// ("TolvanSMTP" gives _TolvanSMTP, "Message" gives Message); nullptr when unknown.
const TypeEntry* InterfaceOf(const char* objectTypeName);
/// The class entry that owns an interface (for creation and events); nullptr for the
/// interfaces of non-creatable types.
const TypeEntry* ClassOf(const TypeEntry& interface);

} // namespace tolmail::server
