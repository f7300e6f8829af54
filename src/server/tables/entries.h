// The entries of the type library, one per type, defined in the table of their class
// family and listed in order of declaration by library.cpp.
#pragma once

#include "server/type_table.h"

namespace tolmail::server::tables {

extern const TypeEntry kAttachment;
extern const TypeEntry kRecipients;
extern const TypeEntry kAttachments;
extern const TypeEntry kMessage;
extern const TypeEntry kMessages;
extern const TypeEntry kPop3Interface;
extern const TypeEntry kPop3Class;
extern const TypeEntry kRecipient;
extern const TypeEntry kSmtpInterface;
extern const TypeEntry kSmtpClass;
extern const TypeEntry kSocketInterface;
extern const TypeEntry kSocketClass;
extern const TypeEntry kPop3Events;
extern const TypeEntry kSmtpEvents;
extern const TypeEntry kSocketEvents;
extern const TypeEntry kIpProto;

} // namespace tolmail::server::tables
