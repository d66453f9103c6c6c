// Where the stand-in library's calls go: the platform model in this process
// (LocalPlatform) or varno-sim over the wire (RemotePlatform). The entry
// points journal every call the same way whichever answers it.
#pragma once

#include "call.h"
#include "clock.h"
#include "log.h"
#include "platform.h"
#include "start_request.h"

namespace varno::sim {

class Backend {
 public:
  virtual ~Backend() = default;
  // `call` is a start entry, `request` its arguments resolved.
  virtual StartResult Start(const Call& call, const StartRequest& request) = 0;
  // Any call but a start. Returns within the call's deadline.
  virtual Result Run(const Call& call) = 0;
  // Lets go of a running platform without a call of the host's, when the
  // next start goes to the other back end.
  virtual void Release() = 0;
};

// The model in this process, exactly as the library has always run it.
class LocalPlatform final : public Backend {
 public:
  LocalPlatform(Clock& clock, Log& log) : log_(log), platform_(clock, log) {}
  StartResult Start(const Call& /*call*/, const StartRequest& request) override {
    return StartPlatform(platform_, log_, request);
  }
  Result Run(const Call& call) override { return ApplyCall(platform_, call); }
  void Release() override {
    if (platform_.running()) platform_.Close();
  }

 private:
  Log& log_;
  Platform platform_;
};

}  // namespace varno::sim
