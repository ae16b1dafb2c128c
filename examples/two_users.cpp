// Two users served by one process: a client each, creating at the same time.
// Each client hears and lists only its own user's requests, and signing one
// user out leaves the other working.
//
//   CORVENZA_API_URL=... CORVENZA_API_KEY=... two_users FRONT.jpg SIDE.jpg
//
// corvenza-config.json is read from $CORVENZA_BUNDLE_DIR (or the directory of
// this program). Each user's offline cache goes to $CORVENZA_CACHE_DIR/<user>
// when that is set, else it stays in memory.

#include <corvenza/corvenza.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace corvenza;

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void printErrors(const std::string& who, const Errors& errors) {
  for (const auto& error : errors) {
    std::cerr << who << ": error: " << error.localizedDescription() << "\n";
  }
}

// Notes when the creation subscription is live on the service.
class SubscriptionStarted final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind kind) override {
    if (kind == EstimationEventKind::creation) started = true;
  }
  bool started = false;
};

// One user: the client, what it heard, what it created and listed. Touched
// only on the main queue, which main() drives.
struct User {
  explicit User(std::string userName) : name(std::move(userName)) {}

  std::string name;
  std::shared_ptr<EstimationClient> client;
  std::shared_ptr<SubscriptionStarted> delegate = std::make_shared<SubscriptionStarted>();
  std::set<std::string> heard;
  std::vector<std::string> created;
  std::optional<std::vector<std::string>> listed;
  bool failed = false;

  void create(const EstimationParameter& parameter, int& pending) {
    ++pending;
    client->createEstimationRequest(
        parameter, [this, &pending](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
          --pending;
          if (e || !r || !r->id) {
            if (e) printErrors(name, *e);
            failed = true;
            return;
          }
          created.push_back(*r->id);
          std::cout << name << " created " << *r->id << "\n";
        });
  }

  void list(int& pending) {
    ++pending;
    listed.reset();
    client->listEstimationRequests(
        100, std::nullopt,
        [this, &pending](std::optional<std::vector<std::shared_ptr<EstimationRequest>>> records,
                         std::optional<std::string>, std::optional<Errors> e) {
          --pending;
          if (e || !records) {
            if (e) printErrors(name, *e);
            failed = true;
            return;
          }
          listed.emplace();
          for (const auto& r : *records) {
            if (r && r->id) listed->push_back(*r->id);
          }
        });
  }

  bool listedOnly(const std::vector<std::string>& own) const {
    if (!listed) return false;
    std::set<std::string> expected(own.begin(), own.end());
    return std::set<std::string>(listed->begin(), listed->end()) == expected;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " FRONT_PHOTO SIDE_PHOTO\n";
    return 2;
  }
  const auto apiUrl = env("CORVENZA_API_URL");
  const auto apiKey = env("CORVENZA_API_KEY");
  if (apiUrl.empty() || apiKey.empty()) {
    std::cerr << "set CORVENZA_API_URL and CORVENZA_API_KEY\n";
    return 2;
  }

  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.gender = Gender::female();
  parameter.frontImage = Image::fromFile(argv[1], kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(argv[2], kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) {
    std::cerr << "cannot read the photos\n";
    return 2;
  }

  // Both clients call back on one queue that this thread drives.
  auto queue = MainQueue::callerDriven();
  const auto cacheRoot = env("CORVENZA_CACHE_DIR");
  User alice("alice");
  User bob("bob");
  for (User* user : {&alice, &bob}) {
    auto provider = std::make_shared<DirectTokenProvider>(apiUrl, apiKey);
    provider->setUserId("two-users-" + user->name);
    EstimationClientOptions options;
    options.tokenProvider = provider;
    options.mainQueue = queue;
    if (!cacheRoot.empty()) options.cacheDirectory = std::filesystem::path(cacheRoot) / user->name;
    try {
      user->client = EstimationClient::create(options);
    } catch (const CorvenzaException& e) {
      std::cerr << "cannot start: " << e.what() << "\n";
      return 1;
    }
    user->client->setDelegate(user->delegate);
    user->client->subscribe(
        EstimationEventKind::creation,
        [user](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
          if (e) printErrors(user->name, *e);
          if (r && r->id) user->heard.insert(*r->id);
        },
        "two_users");
  }
  auto fail = [](const std::string& why) {
    std::cerr << "two_users: " << why << "\n";
    return 1;
  };

  if (!queue->runUntil([&] { return alice.delegate->started && bob.delegate->started; },
                       std::chrono::seconds(30))) {
    return fail("the subscriptions did not start");
  }

  // Both users create at the same time.
  int pending = 0;
  alice.create(parameter, pending);
  bob.create(parameter, pending);
  if (!queue->runUntil([&] { return pending == 0; }, std::chrono::minutes(4))) {
    return fail("the creations did not answer in time");
  }
  if (alice.failed || bob.failed) return fail("a creation failed");

  // Each hears its own creation; a moment more lets a stray event show.
  auto heardOwn = [](const User& u) { return u.heard.count(u.created.front()) == 1; };
  queue->runUntil([&] { return heardOwn(alice) && heardOwn(bob); }, std::chrono::seconds(30));
  queue->runFor(std::chrono::milliseconds(500));
  for (const User* user : {&alice, &bob}) {
    if (user->heard != std::set<std::string>(user->created.begin(), user->created.end())) {
      return fail(user->name + " heard other requests than its own, or missed its own");
    }
  }

  // Each lists only its own.
  alice.list(pending);
  bob.list(pending);
  if (!queue->runUntil([&] { return pending == 0; }, std::chrono::seconds(60))) {
    return fail("the lists did not answer in time");
  }
  if (!alice.listedOnly(alice.created) || !bob.listedOnly(bob.created)) {
    return fail("a list holds another user's request");
  }
  std::cout << "each user heard and listed only their own request\n";

  // Signing Alice out leaves Bob working.
  alice.client->signOut();
  bob.create(parameter, pending);
  if (!queue->runUntil([&] { return pending == 0; }, std::chrono::minutes(4)) || bob.failed) {
    return fail("bob could not create after alice signed out");
  }
  queue->runUntil([&] { return bob.heard.count(bob.created.back()) == 1; },
                  std::chrono::seconds(30));
  bob.list(pending);
  if (!queue->runUntil([&] { return pending == 0; }, std::chrono::seconds(60)) ||
      !bob.listedOnly(bob.created) || bob.heard.size() != 2) {
    return fail("bob's second request was not heard or listed");
  }
  std::cout << "bob kept working after alice signed out\n";

  alice.client.reset();
  bob.client.reset();
  queue->runFor(std::chrono::milliseconds(100));
  return 0;
}
