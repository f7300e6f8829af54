// The type library TolvanMail: its identity and its types in order of declaration, and
// the two ways the dispatch finds a type from an object.
#include <cstring>

#include "server/tables/entries.h"
#include "server/type_table.h"

namespace tolmail::server {
namespace {

using namespace tables;

constinit const TypeEntry* const kTypes[] = {
    &kAttachment,   &kRecipients,   &kAttachments,     &kMessage,     &kMessages,   &kPop3Interface,
    &kPop3Class,    &kRecipient,    &kSmtpInterface,   &kSmtpClass,   &kSocketInterface,
    &kSocketClass,  &kPop3Events,   &kSmtpEvents,      &kSocketEvents, &kIpProto,
};

constinit const Library kLibrary{
    .name = "TolvanMail",
    .guid = {0x16BF0DAB, 0x5EFC, 0x47A0, {0x97, 0x53, 0x62, 0x7C, 0x3B, 0x41, 0xE0, 0x57}},
    .majorVersion = 40,
    .minorVersion = 0,
    .lcid = 1033,
    .help = "",
    .types = kTypes,
};

} // namespace

const Library& TheLibrary()
{
    return kLibrary;
}

const TypeEntry* InterfaceOf(const char* objectTypeName)
{
    // The model classes carry their interface's name; a component carries its class's
    // name, whose default interface is the one it implements.
    for (const TypeEntry* type : kTypes) {
        if (std::strcmp(type->name, objectTypeName) != 0)
            continue;
        if (type->kind == TM_TKIND_COCLASS)
            return type->defaultInterface;
        return type->kind == TM_TKIND_INTERFACE ? type : nullptr;
    }
    return nullptr;
}

const TypeEntry* ClassOf(const TypeEntry& interface)
{
    for (const TypeEntry* type : kTypes)
        if (type->kind == TM_TKIND_COCLASS && type->defaultInterface == &interface)
            return type;
    return nullptr;
}

} // namespace tolmail::server
