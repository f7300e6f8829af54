// The envelope of a message composed elsewhere (as sendmail -t reads it): the
// addresses of its From, To, Cc and Bcc fields, and a copy of the message without its
// Bcc fields, so that the blind recipients stay blind.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tolmail::cli {

/// The addresses of an address-list field body (RFC 5322 3.4), in order: display
/// names, quoted or not (commas inside quotes included), comments in parentheses and
/// group names are passed over, an empty group ("undisclosed-recipients:;") gives
/// nothing; an angle address counts over anything around it. Folding must already be
/// undone.
std::vector<std::string> AddressesIn(std::string_view fieldBody);

/// The addresses a message's header gives.
struct HeaderAddresses {
    std::string from;  ///< the first address of the first From field, or ""
    std::vector<std::string> to, cc, bcc;
};

/// Copies the message from `in` to `out` and reads its header on the way: the fields up
/// to the first empty line, folded lines joined. With `dropBcc` the Bcc fields, their
/// continuation lines included, are left out of the copy. False when reading or
/// writing failed (errno tells why).
bool CopyMessage(std::FILE* in, std::FILE* out, bool dropBcc, HeaderAddresses& found);

} // namespace tolmail::cli
