// The whole client over TLS, trusting only the emulator's private CA through
// AWS_CA_BUNDLE: a creation with its photos and its events (https and wss)
// and the queue; without that CA nothing is sent to a server it cannot verify.
// Behind a proxy (Debian's tinyproxy), every connection goes through it.

#include <corvenza/config.h>
#include <corvenza/direct_token_provider.h>
#include <corvenza/enterprise.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include "integration/background_process.h"
#include "integration/cli_fixture.h"
#include "integration/emulator_http_client.h"

namespace corvenza::test {
namespace {

class TlsTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--tls", "--estimation-delay", "300"}); }
};

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int count(const std::string& text, const std::string& what) {
  int found = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

TEST_F(TlsTest, ACreationItsEventsAndTheQueueGoOverTlsTrustingTheEmulatorsCa) {
  // The creation's event reaches a watch over wss while it is made over https.
  const std::string cli = shellQuoted(CORVENZA_CLI_PATH);
  const auto created =
      runShell(environment("CORVENZA_USER_ID=tls-user") + " { " + cli +
                   " watch --create --count 1 --timeout 60 --json > " +
                   shellQuoted((home_.path() / "events").string()) + " & sleep 2; " + cli + " " +
                   createArgs() + " --wait --timeout 60 --json; status=$?; wait; exit $status; }",
               home_.path() / "create.err");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const auto record = nlohmann::json::parse(created.out, nullptr, false);
  ASSERT_TRUE(record.is_object()) << created.out;
  EXPECT_EQ(record.value("status", ""), "completed");
  std::ifstream events(home_.path() / "events");
  const std::string heard((std::istreambuf_iterator<char>(events)),
                          std::istreambuf_iterator<char>());
  EXPECT_NE(heard.find(record.value("id", "?")), std::string::npos) << heard;

  const auto added = run("queue add --height 170 --weight 62.5 --age 35 --front " +
                             shellQuoted(kExamplePhotos + "small-800x1200.png") + " --side " +
                             shellQuoted(kExamplePhotos + "small-800x1200.png"),
                         "CORVENZA_USER_ID=tls-user");
  ASSERT_EQ(added.exitCode, 0) << added.err;
  const auto ran = run("queue run", "CORVENZA_USER_ID=tls-user");
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_NE(run("queue list", "CORVENZA_USER_ID=tls-user").out.find("done"), std::string::npos);
}

TEST_F(TlsTest, AServerWhoseCertificateDoesNotVerifyIsNeverTalkedTo) {
  const auto listed = run("list", "CORVENZA_USER_ID=tls-user && unset AWS_CA_BUNDLE");
  EXPECT_EQ(listed.exitCode, 1) << listed.out;
  EXPECT_NE(listed.err.find("certificate is not trusted"), std::string::npos) << listed.err;

  // A bundle that is not a file is refused, never opened: a FIFO would block.
  const auto fifo = home_.path() / "fifo.pem";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto blocked =
      run("list", "CORVENZA_USER_ID=tls-user AWS_CA_BUNDLE=" + shellQuoted(fifo.string()));
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("cannot be read"), std::string::npos) << blocked.err;
}

TEST_F(TlsTest, TheEmulatorRefusesTlsFilesItCannotUseAtOnceAndInWords) {
  const auto dir = home_.path();
  const auto at = [&](const char* name) { return shellQuoted((dir / name).string()); };
  const auto made = runShell(
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "
      "/CN=127.0.0.1 -keyout " +
          at("key.pem") + " -out " + at("cert.pem") +
          " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
          at("other.pem") + " && openssl pkey -in " + at("key.pem") +
          " -aes256 -passout pass:x -out " + at("locked.pem") + " && mkfifo " + at("fifo.pem") +
          " && chmod 600 " + at("key.pem") + " " + at("other.pem") + " " + at("locked.pem") +
          " && cp " + at("key.pem") + " " + at("open.pem") + " && chmod 640 " + at("open.pem"),
      dir / "openssl.err");
  ASSERT_EQ(made.exitCode, 0) << fileText(dir / "openssl.err");
  struct Case {
    const char* what;
    const char* certificate;
    const char* key;
    int exitCode;
    const char* words;
  };
  for (const auto& c :
       {Case{"missing", "absent.pem", "key.pem", 2, "absent.pem"},
        Case{"a FIFO", "fifo.pem", "key.pem", 1, "cannot read the TLS"},
        Case{"another key", "cert.pem", "other.pem", 1, "the certificate's own"},
        Case{"a locked key", "cert.pem", "locked.pem", 1, "without a pass phrase"},
        Case{"a key others can read", "cert.pem", "open.pem", 1, "can be read by other users"}}) {
    SCOPED_TRACE(c.what);
    const auto started = runShell("exec timeout 30 " + shellQuoted(CORVENZA_EMULATOR_PATH) +
                                      " --port 0 --data-dir " + at("data") + " --tls --tls-cert " +
                                      at(c.certificate) + " --tls-key " + at(c.key) + " </dev/null",
                                  dir / "emulator.err");
    const auto said = fileText(dir / "emulator.err");
    EXPECT_EQ(started.exitCode, c.exitCode) << said;
    EXPECT_NE(said.find(c.words), std::string::npos) << said;
  }
}

TEST_F(TlsTest, TheFacadeTrustsTheCaItIsGivenAndItsPhotoLinksDownloadOverTls) {
  const auto created = run(createArgs() + " --json", "CORVENZA_USER_ID=link-user");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const auto id = nlohmann::json::parse(created.out, nullptr, false).value("id", "");
  ASSERT_FALSE(id.empty()) << created.out;

  // In this process nothing names the CA but the setting.
  const auto bundle = root_->path() / "bundle";
  ::unsetenv("AWS_CA_BUNDLE");
  ::setenv("AWS_ENDPOINT_URL_COGNITO_IDENTITY", emulator_->endpoint("identity").c_str(), 1);
  ::setenv("AWS_ENDPOINT_URL_S3", emulator_->endpoint("s3").c_str(), 1);
  ::setenv("CORVENZA_KEYCHAIN_DIR", (home_.path() / "facade-keychain").c_str(), 1);
  Bundle::setMainBundleDirectory(bundle);
  ASSERT_TRUE(CorvenzaEnterprise::setConnectionSettings(bundle / "ca.pem"));
  auto provider = std::make_shared<DirectTokenProvider>(emulator_->endpoint("auth"),
                                                        emulator_->endpoint("api_key"));
  provider->setUserId("link-user");
  CorvenzaEnterprise::initialize(provider);
  EXPECT_FALSE(CorvenzaEnterprise::setConnectionSettings({})) << "too late once initialized";

  std::promise<std::pair<std::shared_ptr<EstimationRequest>, std::string>> answer;
  CorvenzaEnterprise::getEstimationRequest(
      id, [&answer](std::shared_ptr<EstimationRequest> request, std::optional<Errors> errors) {
        std::string words;
        for (const auto& error : errors.value_or(Errors{})) {
          words += error.localizedDescription();
          for (const auto& [key, value] : error.userInfo().value_or(UserInfo{})) {
            words += " " + key + "=" + value;
          }
        }
        answer.set_value({std::move(request), words});
      });
  auto read = answer.get_future();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const auto [request, problem] = read.get();
  ASSERT_TRUE(request && request->frontImage) << (request ? "no front photo" : problem);
  const auto link = request->frontImage->downloadableURL();
  ASSERT_TRUE(link && link->starts_with("https://")) << link.value_or("no link");
  const auto fetched = plainRequest("GET", *link, {}, {}, 30'000, (bundle / "ca.pem").string());
  EXPECT_EQ(fetched.status, 200) << fetched.curlError;
  EXPECT_EQ(fetched.body.substr(0, 2), "\xff\xd8") << "not a JPEG";
  detail::resetSharedInstanceForTesting();
}

int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// tinyproxy on loopback, asking for a user name and password; its log has
// one CONNECT line per tunnel.
class Tinyproxy {
 public:
  explicit Tinyproxy(const std::filesystem::path& folder)
      : port_(freeLoopbackPort()), log_(folder / "tinyproxy.log") {
    const auto config = folder / "tinyproxy.conf";
    std::ofstream(config) << "Listen 127.0.0.1\nPort " << port_ << "\nTimeout 120\nLogFile \""
                          << log_.string() << "\"\nLogLevel Info\nMaxClients 20\n"
                          << "Allow 127.0.0.1\nBasicAuth alice s3cret\n";
    process_.emplace("exec tinyproxy -d -c " + shellQuoted(config.string()),
                     folder / "tinyproxy.out");
    for (int i = 0; i < 100 && fileText(log_).find("Accepting connections") == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  bool ready() const { return fileText(log_).find("Accepting connections") != std::string::npos; }
  std::string url(const std::string& password = "s3cret") const {
    return "http://alice:" + password + "@127.0.0.1:" + std::to_string(port_);
  }
  int tunnels() const { return count(fileText(log_), "): CONNECT "); }

 private:
  int port_;
  std::filesystem::path log_;
  std::optional<BackgroundProcess> process_;
};

TEST_F(TlsTest, BehindAProxyEveryConnectionTunnelsThroughItAndACreationNeedsAtMostTwo) {
  if (runShell("command -v tinyproxy", home_.path() / "which.err").exitCode != 0) {
    GTEST_SKIP() << "tinyproxy is not installed (scripts/bootstrap installs tinyproxy-bin)";
  }
  Tinyproxy proxy(home_.path());
  ASSERT_TRUE(proxy.ready()) << fileText(home_.path() / "tinyproxy.out");
  const std::string through =
      "CORVENZA_USER_ID=proxy-user https_proxy=" + shellQuoted(proxy.url()) +
      " && unset no_proxy NO_PROXY";

  // The first call signs in: the token is then cached, as for a warm creation.
  const auto listed = run("list", through);
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  ASSERT_GE(proxy.tunnels(), 1);

  // A warm creation: the create mutation on a connection of its own, and
  // the rest (uploads, attaches, the read back) riding it.
  int before = proxy.tunnels();
  const auto created = run(createArgs() + " --json --verbose", through);
  ASSERT_EQ(created.exitCode, 0) << created.err;
  EXPECT_LE(proxy.tunnels() - before, 2);
  EXPECT_EQ(created.out.find("s3cret") + created.err.find("s3cret"), 2 * std::string::npos)
      << "the proxy's password was shown";
  const auto id = nlohmann::json::parse(created.out, nullptr, false).value("id", "");
  ASSERT_FALSE(id.empty()) << created.out;

  // The subscription's socket tunnels too: its deletion event arrives through it.
  before = proxy.tunnels();
  BackgroundProcess watch(environment(through) + " exec " + shellQuoted(CORVENZA_CLI_PATH) +
                              " watch --delete --count 1 --timeout 30",
                          home_.path() / "watch.out");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  // Its socket: it signs with the credentials the earlier runs kept.
  EXPECT_GE(proxy.tunnels() - before, 1) << "the watch's socket went around the proxy";
  const auto deleted = run("delete " + id, through);
  EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(watch.wait(std::chrono::seconds(30)), 0);
  EXPECT_NE(fileText(home_.path() / "watch.out").find(id), std::string::npos)
      << fileText(home_.path() / "watch.out");

  // A proxy that refuses the tunnel is named, without the password, by
  // requests and the socket alike.
  for (const char* command : {"list", "watch --delete --count 1 --timeout 5"}) {
    const auto refused = run(command, "CORVENZA_USER_ID=proxy-user https_proxy=" +
                                          shellQuoted(proxy.url("wrong-s3cret")));
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("refused the tunnel to 127.0.0.1:"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find(": 401"), std::string::npos) << refused.err;  // tinyproxy's
    const auto said = refused.err.find("refused the tunnel");
    EXPECT_EQ(refused.err.find("refused the tunnel", said + 1), std::string::npos)
        << "said more than once: " << refused.err;
    EXPECT_EQ(refused.err.find("wrong-s3cret"), std::string::npos) << refused.err;
  }
}

}  // namespace
}  // namespace corvenza::test
