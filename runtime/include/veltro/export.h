// VELTRO_API: the mark of what libveltro.so exports. The library is built
// with hidden visibility, so a class or function that callers use carries this
// mark in its public header; everything else stays inside the library.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define VELTRO_API __attribute__((visibility("default")))
#else
#define VELTRO_API
#endif
