#include "platform/http/curl_transport.h"

#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "platform/http/connection_settings.h"
#include "platform/http/curl_errors.h"
#include "platform/http/trust_store.h"

namespace corvenza::http {

namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileDeleter {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using ListPtr = std::unique_ptr<curl_slist, ListDeleter>;
using FilePtr = std::unique_ptr<std::FILE, FileDeleter>;

CURLM* asMulti(void* multi) { return static_cast<CURLM*>(multi); }

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

// libcurl speaks many protocols, file:// among them; the library only ever
// means the web, so anything else is refused before libcurl sees it.
bool isWebUrl(std::string_view url) {
  const auto colon = url.find("://");
  if (colon == std::string_view::npos) return false;
  std::string scheme(url.substr(0, colon));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme == "http" || scheme == "https";
}

// Progress counts what libcurl hands the kernel. Unbounded, the kernel takes
// megabytes of a photo at once, and a slow link then looks silent for
// minutes while they drain; this bound keeps what is counted close to what
// left the machine.
constexpr int kUnsentLimit = 128 * 1024;

int onSocket(void*, curl_socket_t socket, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_IPCXN) {
    const int limit = kUnsentLimit;
    setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &limit, sizeof limit);
  }
  return CURL_SOCKOPT_OK;
}

std::filesystem::path temporarySibling(const std::filesystem::path& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  auto name = target.filename().string() + ".part-" + std::to_string(random());
  return target.parent_path() / name;
}

}  // namespace

struct CurlTransport::Transfer {
  std::uint64_t id = 0;
  HttpRequest request;
  ResponseCallback done;
  ProgressCallback progress;
  EasyPtr easy;
  ListPtr headerList;
  FilePtr upload;
  FilePtr download;
  std::filesystem::path downloadTemp;
  bool bodyDecided = false;
  bool inMulti = false;
  HttpResponse response;
  TransferProgress lastProgress;

  ~Transfer() {
    download.reset();
    if (!downloadTemp.empty()) {
      std::error_code ignored;
      std::filesystem::remove(downloadTemp, ignored);
    }
  }

  static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    if (self->request.responseFile && !self->bodyDecided) {
      self->bodyDecided = true;
      long status = 0;
      curl_easy_getinfo(self->easy.get(), CURLINFO_RESPONSE_CODE, &status);
      // Only a successful body becomes the file; an error body stays in memory
      // so that the caller can read the service's error.
      if (status >= 200 && status < 300) {
        self->downloadTemp = temporarySibling(*self->request.responseFile);
        self->download.reset(std::fopen(self->downloadTemp.c_str(), "wb"));
        if (!self->download) return 0;
      }
    }
    if (self->download) {
      return std::fwrite(data, 1, length, self->download.get()) == length ? length : 0;
    }
    self->response.body.append(data, length);
    return length;
  }

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
      // A new status line (after a 100 Continue, say) starts a new header block.
      self->response.headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
      self->response.headers.emplace_back(trim(line.substr(0, colon)),
                                          trim(line.substr(colon + 1)));
    }
    return length;
  }

  static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const std::size_t read = std::fread(buffer, 1, size * count, self->upload.get());
    if (read == 0 && std::ferror(self->upload.get())) return CURL_READFUNC_ABORT;
    return read;
  }

  static int onProgress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
                        curl_off_t upNow) {
    auto* self = static_cast<Transfer*>(user);
    if (!self->progress) return 0;
    TransferProgress now{static_cast<std::uint64_t>(upNow), static_cast<std::uint64_t>(upTotal),
                         static_cast<std::uint64_t>(downNow),
                         static_cast<std::uint64_t>(downTotal)};
    if (now.bytesSent == self->lastProgress.bytesSent &&
        now.bytesExpectedToSend == self->lastProgress.bytesExpectedToSend &&
        now.bytesReceived == self->lastProgress.bytesReceived &&
        now.bytesExpectedToReceive == self->lastProgress.bytesExpectedToReceive) {
      return 0;
    }
    self->lastProgress = now;
    self->progress(now);
    return 0;
  }

  /// Sets the easy handle up; an error means the request cannot start.
  detail::Status configure() {
    if (!isWebUrl(request.url)) {
      return makeTransportError(kTransportBadURL, "Refused to send to " + redactedUrl(request.url) +
                                                      ": only http and https URLs are allowed");
    }
    easy.reset(curl_easy_init());
    if (!easy) return makeTransportError(kTransportUnknown, "Could not create a transfer");
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const auto ca = trustedAuthorities(request.caFile); !ca.empty()) {
      // A FIFO or a device would block the transport's thread in open().
      if (std::error_code error; !std::filesystem::is_regular_file(ca, error)) {
        return makeTransportError(kTransportTLSFailure, "The CA bundle to trust cannot be read: " +
                                                            ca.string() + " is not a file");
      }
      curl_easy_setopt(e, CURLOPT_CAINFO, ca.c_str());
    }
    if (request.proxy.empty()) request.proxy = processConnectionSettings().proxy;
    if (!request.proxy.empty()) curl_easy_setopt(e, CURLOPT_PROXY, request.proxy.c_str());
    // Redirects would carry a signature to another target; the caller decides.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    // The limit is for silence, not for the whole transfer: on a slow link a
    // photo that keeps moving must get there, however long it takes.
    const auto silence = std::max<std::int64_t>(request.timeout.count(), 1);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(silence));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>((silence + 999) / 1000));
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &onSocket);
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, progress ? 0L : 1L);
    // libcurl sends a request again, unasked, when a reused connection dies
    // before any answer; a request that must not repeat gets a connection
    // of its own, which libcurl never retries.
    if (!request.idempotent) curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);

    const std::string& method = request.method;
    if (request.bodyFile) {
      std::error_code error;
      const auto size = std::filesystem::file_size(*request.bodyFile, error);
      upload.reset(error ? nullptr : std::fopen(request.bodyFile->c_str(), "rb"));
      if (!upload) return makeTransportError(kTransportFileError, "The body file cannot be read");
      curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::onRead);
      curl_easy_setopt(e, CURLOPT_READDATA, this);
      // A known size gives a Content-Length; storage services refuse chunked bodies.
      curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
      if (method != "PUT") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET" && request.body.empty()) {
      curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method == "DELETE" && request.body.empty()) {
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else {
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
      if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    curl_slist* list = nullptr;
    auto append = [&list](const std::string& line) {
      if (curl_slist* grown = curl_slist_append(list, line.c_str())) list = grown;
    };
    for (const auto& [name, value] : request.headers) {
      // "Name;" is curl's way of sending a header with an empty value.
      append(value.empty() ? name + ";" : name + ": " + value);
    }
    // Never wait for a 100 Continue, and never let curl invent a form type
    // the signer did not see.
    if (!findHeader(request.headers, "Expect")) append("Expect:");
    if (!findHeader(request.headers, "Content-Type")) append("Content-Type:");
    headerList.reset(list);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
    return detail::okStatus();
  }
};

class CurlTransport::Handle final : public Cancellable {
 public:
  Handle(std::weak_ptr<CurlTransport> transport, std::uint64_t id)
      : transport_(std::move(transport)), id_(id) {}
  void cancel() override {
    if (auto transport = transport_.lock()) transport->requestCancel(id_);
  }

 private:
  std::weak_ptr<CurlTransport> transport_;
  std::uint64_t id_;
};

std::shared_ptr<CurlTransport> CurlTransport::create() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return std::shared_ptr<CurlTransport>(new CurlTransport());
}

CurlTransport::CurlTransport() : multi_(curl_multi_init()) {}

CurlTransport::~CurlTransport() {
  shutdown();
  curl_multi_cleanup(asMulti(multi_));
}

std::shared_ptr<Cancellable> CurlTransport::send(HttpRequest request, ResponseCallback done,
                                                 ProgressCallback progress) {
  auto transfer = std::make_shared<Transfer>();
  transfer->request = std::move(request);
  transfer->done = std::move(done);
  transfer->progress = std::move(progress);
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    transfer->id = id;
    commands_.push_back(Command{id, std::move(transfer)});
    ++queued_;
    if (!stopping_ && !thread_.joinable()) startThreadLocked();
  }
  curl_multi_wakeup(asMulti(multi_));
  return std::make_shared<Handle>(weak_from_this(), id);
}

void CurlTransport::requestCancel(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    commands_.push_back(Command{id, nullptr});
  }
  curl_multi_wakeup(asMulti(multi_));
}

std::size_t CurlTransport::activeCount() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

void CurlTransport::startThreadLocked() {
  thread_ = std::thread([this] { run(); });
}

void CurlTransport::shutdown() {
  std::thread worker;
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    worker = std::move(thread_);
  }
  curl_multi_wakeup(asMulti(multi_));
  worker.join();
  std::lock_guard lock(mutex_);
  stopping_ = false;
  // Requests sent while the thread was stopping must still complete.
  const bool pending = std::any_of(commands_.begin(), commands_.end(),
                                   [](const Command& c) { return c.transfer != nullptr; });
  if (pending) startThreadLocked();
}

void CurlTransport::run() {
  for (;;) {
    std::deque<Command> commands;
    bool stop = false;
    {
      std::lock_guard lock(mutex_);
      commands.swap(commands_);
      stop = stopping_;
    }
    for (auto& command : commands) {
      if (command.transfer) {
        active_.emplace(command.id, command.transfer);
        if (stop) {
          finish(command.id,
                 makeTransportError(kTransportCancelled, "The transport was shut down"));
        } else {
          begin(command.transfer);
        }
      } else {
        finish(command.id, makeTransportError(kTransportCancelled, "The request was cancelled"));
      }
    }
    if (stop) {
      while (!active_.empty()) {
        finish(active_.begin()->first,
               makeTransportError(kTransportCancelled, "The transport was shut down"));
      }
      return;
    }
    int running = 0;
    curl_multi_perform(asMulti(multi_), &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(asMulti(multi_), &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      const CURLcode code = message->data.result;
      void* owner = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
      completeFinished(static_cast<Transfer*>(owner)->id, static_cast<int>(code));
    }
    curl_multi_poll(asMulti(multi_), nullptr, 0, 1000, nullptr);
  }
}

void CurlTransport::begin(const std::shared_ptr<Transfer>& transfer) {
  auto configured = transfer->configure();
  if (!configured) {
    finish(transfer->id, configured.error());
    return;
  }
  if (curl_multi_add_handle(asMulti(multi_), transfer->easy.get()) != CURLM_OK) {
    finish(transfer->id, makeTransportError(kTransportUnknown, "Could not start the transfer"));
    return;
  }
  transfer->inMulti = true;
}

void CurlTransport::completeFinished(std::uint64_t id, int curlCode) {
  auto found = active_.find(id);
  if (found == active_.end()) return;
  Transfer& transfer = *found->second;
  if (curlCode != CURLE_OK) {
    long connectCode = 0;
    curl_easy_getinfo(transfer.easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectCode);
    finish(id, connectCode >= 300
                   ? proxyRefusalError(connectCode, transfer.request.url, transfer.request.proxy)
                   : curlError(curlCode, transfer.request.url));
    return;
  }
  long status = 0;
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int>(status);
  if (transfer.request.responseFile && status >= 200 && status < 300) {
    const auto& target = *transfer.request.responseFile;
    bool written = true;
    std::error_code error;
    if (transfer.download) {
      written = std::fflush(transfer.download.get()) == 0;
      transfer.download.reset();
      if (written) std::filesystem::rename(transfer.downloadTemp, target, error);
      if (written && !error) transfer.downloadTemp.clear();
    } else {
      // An empty body never reached the write callback.
      FilePtr empty(std::fopen(target.c_str(), "wb"));
      written = empty != nullptr;
    }
    if (!written || error) {
      finish(id, makeTransportError(kTransportFileError, "The response file cannot be written"));
      return;
    }
  }
  finish(id, std::move(transfer.response));
}

void CurlTransport::finish(std::uint64_t id, detail::Result<HttpResponse> outcome) {
  auto found = active_.find(id);
  if (found == active_.end()) return;
  std::shared_ptr<Transfer> transfer = std::move(found->second);
  active_.erase(found);
  if (transfer->inMulti) {
    curl_multi_remove_handle(asMulti(multi_), transfer->easy.get());
    transfer->inMulti = false;
  }
  {
    std::lock_guard lock(mutex_);
    --queued_;
  }
  ResponseCallback done = std::move(transfer->done);
  transfer.reset();  // closes files and removes an unfinished download first
  if (!done) return;
  try {
    done(std::move(outcome));
  } catch (...) {
    // A throwing callback must not take the transport thread down.
  }
}

namespace {

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

// Deliberately immortal: the transport may be used by static objects that
// outlive main(). Tests and tools call shutdownSharedTransport() instead.
std::shared_ptr<CurlTransport>& sharedInstance() {
  static auto* instance = new std::shared_ptr<CurlTransport>();
  return *instance;
}

}  // namespace

std::shared_ptr<HttpTransport> sharedTransport() {
  std::lock_guard lock(sharedMutex());
  auto& instance = sharedInstance();
  if (!instance) instance = CurlTransport::create();
  return instance;
}

void shutdownSharedTransport() {
  std::shared_ptr<CurlTransport> instance;
  {
    std::lock_guard lock(sharedMutex());
    instance = sharedInstance();
  }
  if (instance) instance->shutdown();
}

}  // namespace corvenza::http
