// Property checks for the fuzz targets. A broken property stops the run as a
// crash: libFuzzer keeps the input that caused it, and the corpus replay
// names the file it was replaying.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace varno::fuzz {

// The corpus file being replayed; null under libFuzzer, which names its own.
inline const char* g_replaying = nullptr;

[[noreturn]] inline void PropertyBroken(const char* file, int line, const char* property) {
  std::fprintf(stderr, "%s:%d: property broken: %s%s%s\n", file, line, property,
               g_replaying ? "\n  input: " : "", g_replaying ? g_replaying : "");
  std::abort();
}

}  // namespace varno::fuzz

#define FUZZ_CHECK(property) \
  ((property) ? static_cast<void>(0) : ::varno::fuzz::PropertyBroken(__FILE__, __LINE__, #property))
