#pragma once
// The emulator's HTTP/1.1 server: keep-alive connections on loopback, each
// request handed to the router. The HTTP library stays inside the .cpp so
// that only one translation unit pays for it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/result.h"
#include "faults/fault.h"
#include "server/router.h"

namespace corvenza::emulator {

struct WebSocketUpgrade;

class HttpServer {
 public:
  /// Largest request body accepted; larger ones get 413 (photos are far smaller).
  static constexpr std::uint64_t kBodyLimit = 50ull * 1024 * 1024;

  /// A request's head must arrive whole within this long of the previous
  /// answer (or of connecting); a silent, idle or trickling client is then
  /// disconnected.
  static constexpr std::chrono::milliseconds kRequestTimeout{60'000};
  /// A body gets, on top, the time its declared length takes at this pace: a
  /// photo on a 0.1 Mbit/s uplink arrives, a body trickled slower does not.
  static constexpr std::uint64_t kSlowestBodyBytesPerSecond = 8 * 1024;

  /// @p router must outlive the server.
  explicit HttpServer(const Router& router,
                      std::chrono::milliseconds requestTimeout = kRequestTimeout);
  /// Stops the server when still running.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Binds @p host:@p port (0: an ephemeral port), starts @p threads threads
  /// that the server owns, and returns the bound port. Errors when binding fails.
  /// Whatever a connection's handler throws (running out of memory for a huge
  /// message, say) ends that connection only: the threads go on serving.
  detail::Result<std::uint16_t> start(const std::string& host, std::uint16_t port, int threads);

  /// Hands WebSocket upgrade requests for exactly @p path to @p handler, which
  /// takes over the connection. Call before start().
  void onUpgrade(std::string path, std::function<void(std::unique_ptr<WebSocketUpgrade>)> handler);

  /// Tells which injected fault, if any, catches a request or a WebSocket
  /// upgrade; it is asked once per request and counts what it returns as
  /// fired. "before" faults act before the service sees the request, "after"
  /// faults on its answer (see faults/fault.h). Call before start().
  using FaultSource = std::function<std::optional<faults::Fault>(const Request&)>;
  void setFaultSource(FaultSource source);

  /// Asked first about every request and WebSocket upgrade, before faults and
  /// services: an answer refuses the request with it and ends the connection.
  /// The emulator's answers only this machine (see loopback.h). Call before start().
  using Admission = std::function<std::optional<Response>(const Request&)>;
  void setAdmission(Admission admission);

  /// Stops accepting, drops open connections and joins the threads. Safe to
  /// call more than once; not from one of the server's own threads.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvenza::emulator
