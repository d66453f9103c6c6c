// A dynamic library loaded at run time. One implementation per platform.
#pragma once

#include <memory>
#include <string>

// Any exported function; cast to its real type before calling.
using EntryPoint = void (*)();

class SharedLibrary {
 public:
  virtual ~SharedLibrary() = default;

  // Loads a library by bare file name through the system's ordinary search.
  // On failure returns null and sets *error to the system's own reason, in
  // UTF-8.
  // The library is never unloaded: destroying the object keeps it mapped.
  static std::unique_ptr<SharedLibrary> Load(const char* file_name, std::string* error);

  // The exported entry point with exactly this name, or null.
  virtual EntryPoint Find(const char* name) const = 0;
};
