/// \file
/// Reference-counted handles for components and model objects.
#pragma once

#include <memory>

namespace tolmail {

/// A counted reference: the object lives while one of these holds it.
/// \tparam T A component or model class.
template <class T>
using Ref = std::shared_ptr<T>;

/// A non-counted back-reference that never dangles: it simply stops reaching
/// its target once the target has gone.
/// \tparam T A component or model class.
template <class T>
using WeakRef = std::weak_ptr<T>;

} // namespace tolmail
