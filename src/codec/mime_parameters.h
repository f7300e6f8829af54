// The parameters of a Content-Type or Content-Disposition value (RFC 2045 / 2183), with
// the charset, language and continuations of RFC 2231.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolmail::codec {

/// One parameter after its sections were joined.
struct MimeParameter {
    std::string name;   // lower case, without "*" or a section number
    std::string value;  // quotes and escapes undone; UTF-8 when `extended`
    bool extended = false;  // given as name*= or in sections: charset-decoded
};

/// A value's parameters (the text after the first ";" or the whole value) in the order
/// of their first appearance. Sections name*0, name*1*, ... join in numeric order
/// whatever their order in the text; a name given both plainly and extended appears
/// once for each. At most kMaxParameters parameters and sections are read.
std::vector<MimeParameter> ParseMimeParameters(std::string_view text);

inline constexpr size_t kMaxParameters = 64;

/// The parameter `name` (any case) as UTF-8 text: an extended value rather than a plain
/// one; a plain value with its encoded words decoded (mailers put them in quoted names
/// although the rules do not allow them there). Nothing when the parameter is absent.
std::optional<std::string> ParameterText(const std::vector<MimeParameter>& parameters, std::string_view name);

} // namespace tolmail::codec
