// Header values of the international mode: text beyond ASCII as encoded words
// (RFC 2047), display names as phrases (RFC 5322 3.2.5) with their addresses outside
// the encoded words.
#pragma once

#include <cstddef>
#include <string>

namespace tolmail::smtp {

/// A display name starting at `column`: words of atom characters as they are, other
/// ASCII as one quoted string, text beyond ASCII as encoded words.
std::string PhraseText(const std::string& name, size_t column);

/// "name <address>", the name as PhraseText, starting at `column`; folded before "<"
/// when the address would pass the line's end.
std::string MailboxText(const std::string& name, const std::string& address, size_t column);

/// An unstructured value (a subject, a custom header) starting at `column`: encoded
/// words where the text needs them, else exactly what the plain composition writes.
std::string UnstructuredText(const std::string& value, size_t column);

/// A value given as "phrase <address>" gets its phrase written as PhraseText; any other
/// value is written as the plain composition writes it.
std::string AddressText(const std::string& value, size_t column);

/// The column where text appended to `lines` would start.
size_t ColumnAfter(const std::string& lines);

} // namespace tolmail::smtp
