// The library's own identity for component-only members.
#include "platform/library_caller.h"

namespace tolmail::detail {

const int& Caller::secret() noexcept
{
    static const int stamp = 0;
    return stamp;
}

Caller libraryCaller() noexcept
{
    return Caller(&Caller::secret());
}

} // namespace tolmail::detail
