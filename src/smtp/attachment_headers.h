// The header lines of an attachment part (RFC 2045 Content-Type and
// Content-Transfer-Encoding, RFC 2183 Content-Disposition), with file names beyond
// ASCII as RFC 2231 values.
#pragma once

#include <string>

namespace tolmail::smtp {

/// The part's Content-Type, Content-Transfer-Encoding and Content-Disposition lines,
/// each ended by CR LF, for the file name `shortName` and the encoding `token`. The name
/// goes in quotes as it is, except that in the international mode a name beyond
/// printable ASCII is written as filename*=UTF-8''... (continued as filename*0*=,
/// filename*1*= ... where a line would pass 76 characters) and, for readers that know
/// only name=, as encoded words inside the quotes of name=.
std::string AttachmentHeaderLines(const std::string& shortName, const char* token, bool international);

} // namespace tolmail::smtp
