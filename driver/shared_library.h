// A dynamic library loaded at run time. One implementation per platform.
#pragma once

#include <memory>
#include <string>

// Any exported function; cast to its real type before calling.
using EntryPoint = void (*)();

// Why a library was not loaded.
struct LoadFailure {
  std::string reason;    // the system's own words, in UTF-8
  int library_bits = 0;  // 32 or 64 for a library refused for its word size; else 0
};

class SharedLibrary {
 public:
  virtual ~SharedLibrary() = default;

  // Loads a library by bare file name through the system's ordinary search.
  // On failure returns null and tells why in *failure.
  // The library is never unloaded: destroying the object keeps it mapped.
  static std::unique_ptr<SharedLibrary> Load(const char* file_name, LoadFailure* failure);

  // The exported entry point with exactly this name, or null.
  virtual EntryPoint Find(const char* name) const = 0;
};
