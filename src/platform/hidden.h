// Keeps the library's own classes out of the shared library's exported symbols.
#pragma once

/// Marks a class defined inside the library. A class nested in an exported class (the
/// Impl behind each public class) would otherwise inherit its default visibility.
#if defined(_WIN32)
#define TOLMAIL_HIDDEN
#else
#define TOLMAIL_HIDDEN __attribute__((visibility("hidden")))
#endif
