#include "requests/client_state.h"

#include "platform/dispatch/default_main_queue.h"

namespace corvenza::requests {

// --- the session ------------------------------------------------------------

std::shared_ptr<CorvenzaEnterpriseDelegate> ClientSession::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

void ClientSession::setDelegate(std::shared_ptr<CorvenzaEnterpriseDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

ConnectionStateListener ClientSession::connectionListener() const {
  std::lock_guard lock(mutex_);
  return connectionListener_;
}

void ClientSession::setConnectionListener(ConnectionStateListener listener) {
  std::lock_guard lock(mutex_);
  connectionListener_ = std::move(listener);
}

EstimationProgressType ClientSession::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

std::shared_ptr<CorvenzaEnterpriseDelegate> ClientSession::setProgress(
    EstimationProgressType progress) {
  std::lock_guard lock(mutex_);
  progress_ = progress;
  return delegate_;
}

ClientSession::Kind& ClientSession::kindOf(EstimationEventKind kind) {
  return kinds_[static_cast<std::size_t>(kind)];
}

const ClientSession::Kind& ClientSession::kindOf(EstimationEventKind kind) const {
  return kinds_[static_cast<std::size_t>(kind)];
}

bool ClientSession::addListener(EstimationEventKind kind, const std::string& name,
                                RequestCallback callback) {
  std::lock_guard lock(mutex_);
  auto& room = kindOf(kind);
  room.listeners[name] = std::move(callback);
  return room.watcher == nullptr;
}

bool ClientSession::isRunning(EstimationEventKind kind) const {
  std::lock_guard lock(mutex_);
  return kindOf(kind).watcher != nullptr;
}

std::vector<RequestCallback> ClientSession::listeners(EstimationEventKind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<RequestCallback> out;
  for (const auto& [name, callback] : kindOf(kind).listeners) {
    if (callback) out.push_back(callback);
  }
  return out;
}

ClientSession::Watcher ClientSession::keepWatcher(EstimationEventKind kind, Watcher watcher) {
  std::lock_guard lock(mutex_);
  auto& room = kindOf(kind);
  // The last listener may have gone while the subscription started.
  if (room.listeners.empty()) return watcher;
  return std::exchange(room.watcher, std::move(watcher));
}

ClientSession::Watcher ClientSession::removeListener(EstimationEventKind kind,
                                                     const std::string& name) {
  std::lock_guard lock(mutex_);
  auto& room = kindOf(kind);
  room.listeners.erase(name);
  if (!room.listeners.empty()) return nullptr;
  return std::exchange(room.watcher, nullptr);
}

std::vector<ClientSession::Watcher> ClientSession::removeAllListeners() {
  std::lock_guard lock(mutex_);
  std::vector<Watcher> watchers;
  for (auto& room : kinds_) {
    room.listeners.clear();
    if (room.watcher) watchers.push_back(std::exchange(room.watcher, nullptr));
  }
  return watchers;
}

// --- the state --------------------------------------------------------------

ClientState::ClientState(std::shared_ptr<MainQueue> mainQueue,
                         std::shared_ptr<http::HttpTransport> transport,
                         http::ConnectionSettings connection)
    : mainQueue_(std::move(mainQueue)),
      runtime_(runtime::processRuntime(std::move(transport), std::move(connection))),
      settings_(std::make_shared<const ClientSettings>()),
      services_(std::make_shared<const ClientServices>()) {}

std::shared_ptr<const ClientSettings> ClientState::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void ClientState::setSettings(ClientSettings settings) {
  auto fixed = std::make_shared<const ClientSettings>(std::move(settings));
  std::lock_guard lock(mutex_);
  settings_ = std::move(fixed);
}

std::shared_ptr<const ClientServices> ClientState::services() const {
  std::lock_guard lock(mutex_);
  return services_;
}

void ClientState::setServices(ClientServices services) {
  auto built = std::make_shared<const ClientServices>(std::move(services));
  std::lock_guard lock(mutex_);
  services_ = std::move(built);
}

bool ClientState::initialized() const {
  std::lock_guard lock(mutex_);
  return initialized_;
}

void ClientState::markInitialized() {
  std::lock_guard lock(mutex_);
  initialized_ = true;
}

std::shared_ptr<MainQueue> ClientState::queue() const {
  if (mainQueue_) return mainQueue_;
  return dispatch::defaultMainQueue();
}

}  // namespace corvenza::requests
