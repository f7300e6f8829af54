/// \file
/// Which declarations the shared library exports.
#pragma once

/// Marks a public class or function of the library. The library is built with hidden
/// visibility, so only what carries this mark (and is in namespace tolmail) is exported
/// from libtolmail.so; everything else stays inside it.
#if defined(_WIN32)
// The Windows build is an automation server: hosts reach it through its class objects,
// not through C++ symbols, so nothing is exported here.
#define TOLMAIL_API
#else
#define TOLMAIL_API __attribute__((visibility("default")))
#endif
