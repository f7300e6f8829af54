// Line ends of Internet mail text (RFC 5322 2.3): every line ends with CR LF.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::smtp {

/// CR LF stays; a bare CR and a bare LF each become CR LF.
std::string NormalizeLineEnds(std::string_view text);

} // namespace tolmail::smtp
