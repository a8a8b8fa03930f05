/// @file
/// ORVA_EXPORT marks the classes, functions and constants that make up liborva's
/// public interface. Everything else in the library is hidden from its dynamic
/// symbol table; ORVA_NO_EXPORT hides a member of an exported class that only the
/// library itself uses (a private part's constructor).
#pragma once

#if defined(__GNUC__)
#define ORVA_EXPORT __attribute__((visibility("default")))
#define ORVA_NO_EXPORT __attribute__((visibility("hidden")))
#else
#define ORVA_EXPORT
#define ORVA_NO_EXPORT
#endif
