// The server list of TolvanSMTP: one name or several separated by ";".
#pragma once

#include <string>
#include <vector>

namespace tolmail::smtp {

/// The candidates in order. A list whose first character is ";" is one name; empty
/// names between two ";" are kept (they fail to connect like any bad name).
std::vector<std::string> SplitHostList(const std::string& list);

} // namespace tolmail::smtp
