#include <corvenza/image.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"

namespace corvenza::cli {

namespace {

struct PreparePhotoOptions {
  std::string input;
  std::string output;
};

// Where the prepared photo may go: a regular file (replaced) or nothing yet.
// Folders, devices, FIFOs and links are refused before anything is done.
bool isWritableTarget(const std::filesystem::path& out, mode_t& mode) {
  struct stat info {};
  if (::lstat(out.c_str(), &info) != 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
    return errno == ENOENT;
  }
  mode = info.st_mode & 07777;
  return S_ISREG(info.st_mode);
}

// Writes @p bytes beside @p out and renames the file over it only once it is
// complete, so a failure never leaves OUT damaged or gone.
bool replaceFile(const std::filesystem::path& out, const std::vector<std::uint8_t>& bytes,
                 mode_t mode) {
  const auto folder = out.has_parent_path() ? out.parent_path() : std::filesystem::path(".");
  std::string temporary = (folder / ("." + out.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const auto written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    ok = written > 0;
    if (ok) done += static_cast<std::size_t>(written);
  }
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), out.c_str()) == 0;
  if (!ok) {
    const int why = errno;  // for the message, past the clean-up
    ::unlink(temporary.c_str());
    errno = why;
  }
  return ok;
}

int runPreparePhoto(const PreparePhotoOptions& options) {
  mode_t mode = 0;
  if (!isWritableTarget(options.output, mode)) {
    std::cerr << "corvenza: " << options.output
              << " must be a regular file or not exist yet; nothing was written\n";
    return kExitFailure;
  }
  Error error(kCorvenzaImageErrorDomain, 0);
  auto photo = preparePhotoForUpload(options.input, &error);
  if (!photo) {
    std::cerr << "corvenza: " << error.localizedDescription() << " (" << error.domain() << " error "
              << error.code() << ")\n";
    return kExitUsage;  // the input is not a photo it can use, as create says too
  }
  if (!replaceFile(options.output, photo->jpeg, mode)) {
    std::cerr << "corvenza: cannot write " << options.output << " (" << std::strerror(errno)
              << "); it was left as it was\n";
    return kExitFailure;
  }
  std::cerr << photo->pixelWidth << "x" << photo->pixelHeight << " " << photo->jpeg.size()
            << " bytes\n";
  return kExitOk;
}

}  // namespace

void addPreparePhotoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<PreparePhotoOptions>();
  auto* command = app.add_subcommand(
      "prepare-photo", "Turn, scale and encode a photo exactly as it is prepared for upload");
  command->add_option("IN", options->input, "JPEG or PNG photo")->required();
  command->add_option("OUT", options->output, "Where to write the prepared JPEG")->required();
  command->callback([options, &exitCode] { exitCode = runPreparePhoto(*options); });
}

}  // namespace corvenza::cli
