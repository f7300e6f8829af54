// What keeps the library loaded: the objects it handed to hosts and the locks on its
// class objects (a class object itself does not).
#pragma once

#include <cstdint>

namespace tolmail::server {

/// One more / one fewer object of the library alive in a host's hands (wrappers,
/// enumerators).
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;

/// LockServer(true) / LockServer(false).
void ServerLocked() noexcept;
void ServerUnlocked() noexcept;

/// True when no object is alive and no class object is locked.
bool CanUnload() noexcept;

} // namespace tolmail::server
