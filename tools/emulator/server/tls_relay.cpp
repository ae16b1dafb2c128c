#include "server/tls_relay.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <thread>

namespace corvenza::emulator {
namespace {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
using tcp = net::ip::tcp;

// A client that connects and never finishes its handshake is let go.
constexpr std::chrono::seconds kHandshakeLimit{30};

class Relay : public std::enable_shared_from_this<Relay> {
 public:
  using Buffer = std::array<char, 16 * 1024>;

  Relay(tcp::socket client, ssl::context& tls, tcp::endpoint target)
      : secure_(std::move(client), tls),
        plain_(secure_.get_executor()),
        target_(target),
        deadline_(secure_.get_executor()) {}

  void start() {
    deadline_.expires_after(kHandshakeLimit);
    deadline_.async_wait([self = shared_from_this()](boost::system::error_code ec) {
      if (!ec) self->close();
    });
    secure_.async_handshake(ssl::stream_base::server,
                            [self = shared_from_this()](boost::system::error_code ec) {
                              self->deadline_.cancel();
                              if (ec) return self->close();
                              self->connect();
                            });
  }

 private:
  void connect() {
    plain_.async_connect(target_, [self = shared_from_this()](boost::system::error_code ec) {
      if (ec) return self->close();
      pump(self, self->secure_, self->plain_, self->up_);
      pump(self, self->plain_, self->secure_, self->down_);
    });
  }

  // Copies what @p from reads to @p to, one buffer at a time, until either fails.
  template <typename From, typename To>
  static void pump(std::shared_ptr<Relay> self, From& from, To& to, Buffer& buffer) {
    from.async_read_some(net::buffer(buffer), [self, &from, &to, &buffer](
                                                  boost::system::error_code ec, std::size_t n) {
      if (ec) return self->close();
      net::async_write(to, net::buffer(buffer.data(), n),
                       [self, &from, &to, &buffer](boost::system::error_code written, std::size_t) {
                         if (written) return self->close();
                         pump(self, from, to, buffer);
                       });
    });
  }

  // Either side ending ends both; the pending operations then fail and let go.
  void close() {
    boost::system::error_code ignored;
    secure_.lowest_layer().shutdown(tcp::socket::shutdown_both, ignored);
    secure_.lowest_layer().close(ignored);
    plain_.shutdown(tcp::socket::shutdown_both, ignored);
    plain_.close(ignored);
  }

  ssl::stream<tcp::socket> secure_;
  tcp::socket plain_;
  tcp::endpoint target_;
  net::steady_timer deadline_;
  Buffer up_{};
  Buffer down_{};
};

}  // namespace

struct TlsRelay::Impl {
  net::io_context io{1};
  ssl::context tls{ssl::context::tls_server};
  tcp::acceptor acceptor{io};
  tcp::endpoint target;
  std::thread thread;

  void accept() {
    acceptor.async_accept([this](boost::system::error_code ec, tcp::socket client) {
      if (ec == net::error::operation_aborted) return;
      if (!ec) std::make_shared<Relay>(std::move(client), tls, target)->start();
      accept();
    });
  }
};

TlsRelay::TlsRelay() : impl_(std::make_unique<Impl>()) {}

TlsRelay::~TlsRelay() { stop(); }

detail::Result<std::uint16_t> TlsRelay::start(const std::string& host, std::uint16_t port,
                                              std::uint16_t targetPort,
                                              const TlsIdentity& identity) {
  const auto failed = [](const std::string& what, const boost::system::error_code& ec) {
    return Error("CorvenzaEmulatorError", 1, std::nullopt,
                 "cannot serve TLS: " + what + ": " + ec.message());
  };
  boost::system::error_code ec;
  impl_->tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                         ssl::context::no_tlsv1_1);
  impl_->tls.use_certificate_chain(net::buffer(identity.certificatePem), ec);
  if (ec) return failed("the certificate", ec);
  // Never ask for a pass phrase on the terminal: an encrypted key is refused.
  impl_->tls.set_password_callback(
      [](std::size_t, ssl::context::password_purpose) { return std::string(); }, ec);
  impl_->tls.use_private_key(net::buffer(identity.privateKeyPem), ssl::context::pem, ec);
  if (ec) return failed("the key (the certificate's own, without a pass phrase)", ec);
  const auto address = net::ip::make_address(host, ec);
  if (ec) return failed(host, ec);
  impl_->target = tcp::endpoint(address, targetPort);
  const tcp::endpoint endpoint(address, port);
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) return failed("port " + std::to_string(port), ec);
  const auto bound = impl_->acceptor.local_endpoint().port();
  impl_->accept();
  impl_->thread = std::thread([this] { impl_->io.run(); });
  return bound;
}

void TlsRelay::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->io.stop();
  impl_->thread.join();
}

}  // namespace corvenza::emulator
