// What InternationalText changes when a message is read: header text, display names,
// attachment names and the message text as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::pop3 {

/// Tabs and line ends as blanks. The default reading also blanks byte 160 (a
/// no-break space in Latin-1), which in UTF-8 is part of a letter: the international
/// reading leaves it.
std::string HeaderBlanks(bool international, std::string_view text);

/// A display name as the address utility cut it (quotes kept): quotes and their
/// escapes undone, encoded words decoded, every letter kept.
std::string DisplayName(std::string_view name);

/// The value of the field `name` (no colon, any case) in an unfolded part header (one
/// line per field), its letter case kept; empty when the header has no such field.
std::string FieldText(std::string_view header, std::string_view name);

/// An attachment's name: Content-Type's "name", else Content-Disposition's "filename"
/// (RFC 2231 forms, or encoded words in a quoted value), in its own letter case.
std::string AttachmentName(std::string_view typeParams, std::string_view disposition);

/// A text body as UTF-8: its transfer encoding (quoted-printable, base64) undone and its
/// octets converted from the charset its Content-Type parameters name (US-ASCII when
/// none). A base64 body that does not decode stays as it came.
std::string BodyText(std::string_view body, std::string_view transferEncoding, std::string_view typeParams);

} // namespace tolmail::pop3
