// Recipient: one To or Cc recipient of a retrieved message.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/ref.h"

namespace tolmail {

class Recipient {
    struct Private {
        explicit Private() = default;
    };
    friend class Recipients;

public:
    explicit Recipient(Private) {}

    /// 1 for To, 2 for Cc (as the retrieval fills it).
    int16_t Types() const { return types_; }
    void Types(int16_t value) { types_ = value; }
    std::string Name() const { return name_; }
    void Name(const std::string& value) { name_ = value; }
    std::string Address() const { return address_; }
    void Address(const std::string& value) { address_ = value; }

private:
    std::string address_;
    std::string name_;
    int16_t types_ = 0;
};

} // namespace tolmail
