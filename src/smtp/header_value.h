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

} // namespace tolmail::smtp
