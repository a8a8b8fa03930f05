/// @file
/// ORVA_EXPORT marks the classes, functions and constants that make up liborva's
/// public interface. Everything else in the library is hidden from its dynamic
/// symbol table.
#pragma once

#if defined(__GNUC__)
#define ORVA_EXPORT __attribute__((visibility("default")))
#else
#define ORVA_EXPORT
#endif
