// The per-user registration file that lets a host find the library by class name.
#pragma once

#include <string>
#include <vector>

#include "server/type_table.h"
#include "tolmail/automation.h"

namespace tolmail::server {

/// ${XDG_DATA_HOME:-$HOME/.local/share}/tolmail/registry; empty when neither is set.
std::string RegistryFile();

/// The lines that record `library` loaded from `modulePath`: one progid and one clsid line
/// per creatable class, then the typelib line.
std::vector<std::string> RegistrationLines(const Library& library, const std::string& modulePath);

/// Replaces the library's lines in `file` by RegistrationLines (creating the file and its
/// folder as needed); every other line stays as it stands. Atomic: a temporary file
/// renamed over the old one.
TmResult Register(const Library& library, const std::string& file, const std::string& modulePath);
/// Removes exactly the library's lines from `file`; a missing file is nothing to remove.
TmResult Unregister(const Library& library, const std::string& file);

} // namespace tolmail::server
