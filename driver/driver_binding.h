// Binding the host driver library: load it, then look up the eleven entry
// points into a DriverApi. Nothing is called while binding.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/driver_api.h"
#include "driver/shared_library.h"

struct DriverBinding {
  std::unique_ptr<SharedLibrary> library;  // held, never unloaded
  bool loaded = false;
  LoadFailure load_failure;          // why, when not loaded
  std::vector<std::string> missing;  // entries not exported, in table order
  DriverApi api;                     // complete only when bound()

  bool bound() const { return loaded && missing.empty(); }
};

// Looks up every entry once, in table order, all of them even after one is
// missing, so that the operator learns every missing name at once.
DriverBinding BindDriver(const SharedLibrary& library);

// Loads the library by bare file name and binds it; the binding owns it.
DriverBinding LoadAndBindDriver(const char* file_name);
