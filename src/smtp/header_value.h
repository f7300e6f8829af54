// Header values given by the host, made safe for a header block (RFC 5322 2.2.3).
#pragma once

#include <string>
#include <string_view>

namespace tolmail::smtp {

/// A value without line breaks is returned unchanged. Inside a value, each run of CR
/// and LF becomes one fold: CR LF followed by a blank (the blank or tab that already
/// follows the run serves instead). A run at the end of the value is dropped, since a
/// fold there would leave a line of blanks. So a value can never start a header line
/// of its own nor end the header block.
std::string FoldHeaderValue(std::string_view value);

/// What FoldHeaderValue's result reads as once unfolded: each run of CR and LF becomes
/// one blank (none when a blank or tab follows), a run at the end is dropped.
std::string UnfoldedValue(std::string_view value);

/// The inside of a quoted string (RFC 5322 3.2.4), such as a file name in name= or
/// filename=: a quotation mark or a backslash gets a backslash in front, so that it
/// does not end the string early; CR and LF are dropped, since a quoted string cannot
/// carry them.
std::string QuotedStringContent(std::string_view value);

} // namespace tolmail::smtp
