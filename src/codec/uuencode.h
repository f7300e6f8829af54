// Uuencode data lines (count character, groups, CR LF); the begin and end lines are
// the callers' business.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::codec {

std::string UuEncode(std::string_view data);
/// Appends UuEncode(data), closing grave accent included, to out.
void UuEncodeAppend(std::string& out, std::string_view data);
std::string UuEncodeGroup(std::string_view group);
std::string UuDecode(std::string_view text);
/// Appends UuDecode(text) to out.
void UuDecodeAppend(std::string& out, std::string_view text);

} // namespace tolmail::codec
