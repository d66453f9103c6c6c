#include "driver/driver_binding.h"

#include <type_traits>
#include <utility>

namespace {

template <auto Member>
void Store(DriverApi& api, EntryPoint entry) {
  using Slot = std::remove_reference_t<decltype(api.*Member)>;
  api.*Member = reinterpret_cast<Slot>(entry);
}

struct EntrySlot {
  const char* name;
  void (*store)(DriverApi&, EntryPoint);
};

// Each slot is named exactly as the library exports it.
#define VARNO_ENTRY(name) \
  { #name, &Store < &DriverApi::name> }
constexpr EntrySlot kEntries[] = {
    VARNO_ENTRY(start_ZUNVarno),
    VARNO_ENTRY(start_ZUNVarno2),
    VARNO_ENTRY(getValue_ZUNVarno),
    VARNO_ENTRY(setValue_ZUNVarno),
    VARNO_ENTRY(getAIValueForCalibration_ZUNVarno),
    VARNO_ENTRY(close_ZUNVarno),
    VARNO_ENTRY(setCalibration_ZUNVarno),
    VARNO_ENTRY(getStatus_ZUNVarno),
    VARNO_ENTRY(MP_getParameter),
    VARNO_ENTRY(MP_updateDynamicParameters),
    VARNO_ENTRY(MP_sendCommand),
};
#undef VARNO_ENTRY

}  // namespace

DriverBinding BindDriver(const SharedLibrary& library) {
  DriverBinding binding;
  binding.loaded = true;
  for (const EntrySlot& slot : kEntries) {
    EntryPoint entry = library.Find(slot.name);
    if (entry == nullptr)
      binding.missing.emplace_back(slot.name);
    else
      slot.store(binding.api, entry);
  }
  return binding;
}

DriverBinding LoadAndBindDriver(const char* file_name) {
  LoadFailure failure;
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Load(file_name, &failure);
  if (library == nullptr) {
    DriverBinding binding;
    binding.load_failure = std::move(failure);
    return binding;
  }
  DriverBinding binding = BindDriver(*library);
  binding.library = std::move(library);
  return binding;
}
