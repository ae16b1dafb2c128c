#include "queue/queue_store.h"

#include <corvenza/default_token_provider.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "testkit/fake_http_transport.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

unsigned modeOf(const std::filesystem::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 0777;
}

QueuedCreation person() {
  QueuedCreation view;
  view.heightInCm = 170.5;
  view.weightInKg = 62.25;
  view.age = 35;
  view.gender = Gender::female();
  view.failOnAutomaticEstimationFailure = true;
  view.enqueuedAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123));
  return view;
}

TEST(QueueStore, EntriesAndTheirStepsSurviveReopeningInPrivateFiles) {
  TempDir home;
  const auto folder = home.path() / "queue";
  std::string id;
  {
    auto store = queue::QueueStore::open(folder);
    ASSERT_TRUE(store) << store.error().localizedDescription();
    auto first = (*store)->insert(person(), {1, 2, 3}, {4, 5});
    auto second = (*store)->insert(person(), {6}, {7});
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->view.queueId, second->view.queueId);
    EXPECT_EQ(first->bytes, 5u);
    EXPECT_EQ(modeOf(first->frontFile), 0600u);
    id = first->view.queueId;

    auto entry = *first;
    entry.view.state = QueuedCreationState::frontAttached;
    entry.view.requestId = "r-1";
    entry.view.failedAttempts = 2;
    entry.view.lastError = Error("CorvenzaTransportError", 7, std::nullopt, "no route");
    entry.createSentAtMs = 42;
    ASSERT_TRUE((*store)->update(entry));
  }
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(folder / "creation-queue.sqlite"), 0600u);

  auto reopened = queue::QueueStore::open(folder);
  ASSERT_TRUE(reopened);
  auto entries = (*reopened)->load();
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  const auto& e = entries->front();  // oldest first
  EXPECT_EQ(e.view.queueId, id);
  EXPECT_EQ(e.view.state, QueuedCreationState::frontAttached);
  EXPECT_EQ(e.view.requestId, "r-1");
  EXPECT_EQ(e.view.failedAttempts, 2);
  ASSERT_TRUE(e.view.lastError);
  EXPECT_EQ(e.view.lastError->domain(), "CorvenzaTransportError");
  EXPECT_EQ(e.view.lastError->localizedDescription(), "no route");
  EXPECT_EQ(e.createSentAtMs, 42);
  EXPECT_EQ(e.view.heightInCm, 170.5);
  EXPECT_EQ(e.view.gender, Gender::female());
  EXPECT_TRUE(e.view.failOnAutomaticEstimationFailure);
  EXPECT_EQ(e.view.enqueuedAt, person().enqueuedAt);
  EXPECT_FALSE(entries->back().view.gender == std::nullopt);

  // Removing takes the photos with the row.
  ASSERT_TRUE((*reopened)->remove(e));
  EXPECT_FALSE(std::filesystem::exists(e.frontFile));
  EXPECT_FALSE(std::filesystem::exists(e.sideFile));
  EXPECT_EQ((*reopened)->load()->size(), 1u);
}

TEST(QueueStore, PhotosNoEntryNamesAreRemovedOnceTheyAreOld) {
  TempDir home;
  auto store = queue::QueueStore::open(home.path() / "queue");
  ASSERT_TRUE(store);
  auto kept = (*store)->insert(person(), {1}, {2});
  ASSERT_TRUE(kept);
  const auto photos = home.path() / "queue" / "photos";
  // Left by a process killed between the photos and the row.
  const auto stray = photos / "q-killed-front.jpg";
  const auto young = photos / "q-writing-front.jpg";
  std::ofstream(stray) << "x";
  std::ofstream(young) << "y";
  std::filesystem::last_write_time(
      stray, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  auto entries = (*store)->load();
  ASSERT_TRUE(entries);
  (*store)->removeStrayPhotos(*entries, std::chrono::minutes(10));
  EXPECT_FALSE(std::filesystem::exists(stray));
  EXPECT_TRUE(std::filesystem::exists(young)) << "an enqueue may still be writing it";
  EXPECT_TRUE(std::filesystem::exists(kept->frontFile));
  EXPECT_TRUE(std::filesystem::exists(kept->sideFile));
}

// A database edited (or restored into another folder) must not make a run
// upload and delete files outside the queue's folder.
// A damaged row (an id that climbs out of the folder, values that are not
// numbers) is shown as failed and never run; photo paths never come from it.
TEST(QueueStore, PhotoPathsComeFromTheQueueIdNotTheDatabase) {
  TempDir home;
  const auto folder = home.path() / "queue";
  auto store = queue::QueueStore::open(folder);
  ASSERT_TRUE(store);
  auto stored = (*store)->insert(person(), {1}, {2});
  auto damaged = (*store)->insert(person(), {3}, {4});
  auto notANumber = (*store)->insert(person(), {5}, {6});
  ASSERT_TRUE(stored && damaged && notANumber);
  const auto outside = home.path() / "outside.jpg";
  std::ofstream(outside) << "not the queue's";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder / "creation-queue.sqlite").c_str(), &db), SQLITE_OK);
  const auto edit = "UPDATE entries SET front_file = '" + outside.string() + "', side_file = '" +
                    outside.string() + "'; UPDATE entries SET queue_id = '../../outside' " +
                    "WHERE queue_id = '" + damaged->view.queueId + "'; UPDATE entries SET " +
                    "height = 'abc' WHERE queue_id = '" + notANumber->view.queueId + "';";
  ASSERT_EQ(sqlite3_exec(db, edit.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  auto entries = (*store)->load();
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ(entries->at(0).frontFile, stored->frontFile);
  EXPECT_EQ(entries->at(0).sideFile, stored->sideFile);
  EXPECT_EQ(entries->at(0).view.state, QueuedCreationState::pending);
  EXPECT_EQ(entries->at(1).view.state, QueuedCreationState::failed) << "never run";
  EXPECT_TRUE(entries->at(1).frontFile.empty());
  EXPECT_EQ(entries->at(2).view.state, QueuedCreationState::failed) << "never run";
  EXPECT_TRUE(entries->at(2).view.lastError);
  for (const auto& e : *entries) ASSERT_TRUE((*store)->remove(e));
  EXPECT_TRUE(std::filesystem::exists(outside));
}

TEST(QueueStore, AFolderThatIsALinkIsRefused) {
  TempDir home;
  std::filesystem::create_directory(home.path() / "elsewhere");
  std::filesystem::create_directory_symlink(home.path() / "elsewhere", home.path() / "queue");
  auto store = queue::QueueStore::open(home.path() / "queue");
  ASSERT_FALSE(store);
  EXPECT_EQ(store.error().domain(), kCreationQueueErrorDomain);
}

class CreationQueueTest : public ::testing::Test {
 protected:
  std::shared_ptr<EstimationClient> client() {
    EstimationClientOptions options;
    options.configuration =
        CorvenzaConfig("http://127.0.0.1:9/graphql", "ap-northeast-1", "photos", "ap-northeast-1",
                       "ap-northeast-1:pool", "ap-northeast-1", "key-1");
    options.tokenProvider = std::make_shared<DefaultTokenProvider>();
    options.mainQueue = MainQueue::callerDriven();
    options.transport = FakeHttpTransport::create();
    return EstimationClient::create(std::move(options));
  }
  static EstimationParameter parameter() {
    EstimationParameter p;
    p.heightInCm = 170;
    p.weightInKg = 60;
    p.age = 30;
    p.frontImage = Image::fromPixels(8, 8, std::vector<std::uint8_t>(8 * 8 * 3, 120));
    p.sideImage = p.frontImage;
    return p;
  }
  TempDir home_;
};

TEST_F(CreationQueueTest, LimitsRefuseWithAClearErrorAndDropRemovesEverything) {
  CreationQueueOptions options;
  options.directory = home_.path() / "q";
  options.maxEntries = 2;
  auto queue = CreationQueue::open(client(), options);
  const auto first = queue->enqueue(parameter());
  queue->enqueue(parameter());
  try {
    queue->enqueue(parameter());
    ADD_FAILURE() << "a third entry was stored";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().domain(), kCreationQueueErrorDomain);
    EXPECT_EQ(e.error().code(), static_cast<int>(CreationQueueErrorCode::full));
  }
  EXPECT_EQ(queue->entries().size(), 2u);

  // A photo missing is refused before anything is stored.
  auto noSide = parameter();
  noSide.sideImage = nullptr;
  EXPECT_THROW(queue->enqueue(noSide), CorvenzaException);

  EXPECT_TRUE(queue->drop(first));
  EXPECT_FALSE(queue->drop(first));
  EXPECT_EQ(queue->entries().size(), 1u);
  std::size_t photos = 0;
  for (const auto& file : std::filesystem::directory_iterator(options.directory / "photos")) {
    (void)file;
    ++photos;
  }
  EXPECT_EQ(photos, 2u);  // the remaining entry's two

  CreationQueueOptions tiny = options;
  tiny.directory = home_.path() / "tiny";
  tiny.maxBytes = 10;
  auto small = CreationQueue::open(client(), tiny);
  EXPECT_THROW(small->enqueue(parameter()), CorvenzaException);
  EXPECT_TRUE(small->entries().empty());
}

}  // namespace
}  // namespace corvenza::test
