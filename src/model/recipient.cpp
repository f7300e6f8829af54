// Recipient: the three fields of one recipient.
#include "tolmail/Recipient.h"

#include "platform/hidden.h"

namespace tolmail {

class TOLMAIL_HIDDEN Recipient::Impl {
public:
    std::string address;
    std::string name;
    int16_t types = 0;
};

Recipient::Recipient() : impl_(std::make_unique<Impl>()) {}
Recipient::~Recipient() = default;

int16_t Recipient::Types() const { return impl_->types; }
void Recipient::Types(int16_t value) { impl_->types = value; }
std::string Recipient::Name() const { return impl_->name; }
void Recipient::Name(const std::string& value) { impl_->name = value; }
std::string Recipient::Address() const { return impl_->address; }
void Recipient::Address(const std::string& value) { impl_->address = value; }

} // namespace tolmail
