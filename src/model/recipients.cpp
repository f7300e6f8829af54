// Recipients: the To and Cc recipients of a retrieved message (RFC 5322 address lists).
#include "tolmail/Recipients.h"

namespace tolmail {

Ref<Recipients> Recipients::Create(const detail::Caller& caller)
{
    caller.require("Recipients.Create");
    return std::make_shared<Recipients>(Private{});
}

Ref<Recipient> Recipients::Add(const std::string& Address, const std::string& Name, int16_t Types,
                               const std::string& sKey)
{
    auto recipient = std::make_shared<Recipient>(Recipient::Private{});
    recipient->Address(Address);
    recipient->Name(Name);
    recipient->Types(Types);
    store_.add(recipient, sKey);
    return recipient;
}

} // namespace tolmail
