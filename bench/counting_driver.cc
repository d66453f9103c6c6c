// A stand-in for the platform's host driver library that counts its
// getValue_ZUNVarno calls, so that the benchmark counts samples by the calls
// made, whatever the screen shows of them. VARNO_BENCH_COUNTER names a file
// of eight bytes that every process loading this library maps and adds its
// calls to; the benchmark reads it. The signal `CONSTANT` always reads 1;
// any other reads a value that changes with every call. Both starts return
// 1; every other entry does nothing and returns 0.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/driver_api.h"

#define VARNO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The shared count, or a count of this process's own when no file is named.
std::uint64_t* MapCounter() {
  static std::uint64_t own = 0;
  const char* path = std::getenv("VARNO_BENCH_COUNTER");
  if (path == nullptr || *path == '\0') return &own;
  const int file = open(path, O_RDWR | O_CLOEXEC);
  if (file < 0) return &own;
  void* shared = mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
  close(file);
  return shared == MAP_FAILED ? &own : static_cast<std::uint64_t*>(shared);
}

std::uint64_t CountCall() {
  static std::uint64_t* const counter = MapCounter();
  return std::atomic_ref<std::uint64_t>(*counter).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

VARNO_EXPORT StartResult start_ZUNVarno() { return kStartOk; }

VARNO_EXPORT StartResult start_ZUNVarno2(const char* /*first*/, const char* /*second*/,
                                         const char* /*third*/) {
  return kStartOk;
}

VARNO_EXPORT float getValue_ZUNVarno(const char* name) {
  const std::uint64_t call = CountCall();
  if (std::strcmp(name, "CONSTANT") == 0) return 1.0F;
  // 0.000 to 0.999: the third decimal changes with every call.
  return static_cast<float>(call % 1000) / 1000.0F;
}

VARNO_EXPORT unsigned char setValue_ZUNVarno(const char* /*name*/, float /*value*/) { return 0; }

VARNO_EXPORT float getAIValueForCalibration_ZUNVarno(const char* /*name*/) { return 0; }

VARNO_EXPORT void close_ZUNVarno() {}

VARNO_EXPORT std::int32_t setCalibration_ZUNVarno(const char* /*name*/, float /*a*/, float /*b*/) {
  return 0;
}

VARNO_EXPORT std::uint32_t getStatus_ZUNVarno() { return 0; }

VARNO_EXPORT float MP_getParameter(std::int32_t /*number*/) { return 0; }

VARNO_EXPORT void MP_updateDynamicParameters(float /*a*/, float /*b*/, float /*c*/, float /*d*/,
                                             float /*e*/) {}

VARNO_EXPORT void MP_sendCommand(std::int32_t /*command*/) {}

#include "driver/export_checks.h"
