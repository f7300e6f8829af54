/// \file
/// Recipient: one To or Cc recipient of a retrieved message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/export.h"

namespace tolmail {

/// One To or Cc recipient of a retrieved message. Made by Recipients.Add only.
class TOLMAIL_API Recipient {
public:
    ~Recipient();
    Recipient(const Recipient&) = delete;
    Recipient& operator=(const Recipient&) = delete;

    /// 1 for To, 2 for Cc (as the retrieval fills it).
    int16_t Types() const;
    /// Sets the recipient type (any value is kept).
    void Types(int16_t value);
    /// The display name ("" when the address had none); as UTF-8 when read with
    /// TolvanPOP3::InternationalText.
    std::string Name() const;
    /// Sets the display name.
    void Name(const std::string& value);
    /// The e-mail address.
    std::string Address() const;
    /// Sets the e-mail address.
    void Address(const std::string& value);

private:
    friend class LibraryAccess;
    Recipient();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
