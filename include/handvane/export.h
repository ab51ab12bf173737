#pragma once
// Symbols are hidden by default; the exported C entry points and the classes other libraries use
// carry HV_EXPORT.
#define HV_EXPORT __attribute__((visibility("default")))
#define HV_EXTERN_C extern "C" HV_EXPORT
