// The library's one way into the state behind its public classes.
#pragma once

#include <memory>

#include "platform/hidden.h"

namespace tolmail {

/// Every public class befriends this class and nothing else, so a host (which cannot
/// include it) reaches only the public members, while each layer of the library reaches
/// the Impl of the classes it builds on.
class TOLMAIL_HIDDEN LibraryAccess {
public:
    /// Names T's Impl for the layer that defines it (an alias template would be
    /// access-checked where it is used, outside this friend).
    template <class T>
    struct Of {
        using Impl = typename T::Impl;
    };

    template <class T>
    static auto& impl(T& object)
    {
        return *object.impl_;
    }

    template <class T>
    static const auto& impl(const T& object)
    {
        return *object.impl_;
    }

    /// Makes an object whose constructor is closed to hosts (the model classes).
    template <class T>
    static std::shared_ptr<T> create()
    {
        return std::shared_ptr<T>(new T());
    }
};

} // namespace tolmail
