// The genuine Caller that the library passes to component-only members.
#pragma once

#include "tolmail/caller.h"

namespace tolmail::detail {

Caller libraryCaller() noexcept;

} // namespace tolmail::detail
