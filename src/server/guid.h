// Identifiers: comparison and the registry's text form.
#pragma once

#include <cstring>
#include <string>

#include "tolmail/automation.h"

namespace tolmail::server {

inline bool SameGuid(const TmGuid& a, const TmGuid& b) noexcept
{
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as registries write it.
std::string GuidText(const TmGuid& guid);

} // namespace tolmail::server
