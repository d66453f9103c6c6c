// varno-sim's control API: JSON over HTTP on a socket and threads of its
// own, GET /api/state and the rest (README.md lists them), an event stream,
// and the panel's assets at "/". Every error is a 4xx answer with a JSON
// body naming the problem.
#pragma once

#include <memory>
#include <string>

#include "emulated_platform.h"
#include "endpoint.h"

namespace varno::sim {

struct ControlOptions {
  Endpoint http;
  // Required of every changing request when not empty; without one only
  // loopback names are accepted as the request's Host.
  std::string token;
  std::string assets;  // the panel's folder; only a fixed list is served
};

class ControlApi {
 public:
  ControlApi(EmulatedPlatform& platform, ControlOptions options);
  ~ControlApi();
  ControlApi(const ControlApi&) = delete;
  ControlApi& operator=(const ControlApi&) = delete;

  // Binds and listens; false with *error set when the port is refused.
  bool Open(std::string* error);
  Endpoint Local() const;
  // Serves until Stop(); returns false when serving failed.
  bool Run();
  // Ends every event stream within 100 ms and stops the server. Safe from
  // any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varno::sim
