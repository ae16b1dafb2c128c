#include <corvenza/image.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"

namespace corvenza::cli {

namespace {

struct PreparePhotoOptions {
  std::string input;
  std::string output;
};

int runPreparePhoto(const PreparePhotoOptions& options) {
  Error error(kCorvenzaImageErrorDomain, 0);
  auto photo = preparePhotoForUpload(options.input, &error);
  if (!photo) {
    std::cerr << "corvenza: " << error.localizedDescription() << " (" << error.domain()
              << " error " << error.code() << ")\n";
    return kExitFailure;
  }
  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(photo->jpeg.data()),
            static_cast<std::streamsize>(photo->jpeg.size()));
  out.close();
  if (!out) {
    std::error_code ignored;
    std::filesystem::remove(options.output, ignored);  // never leave a partial file behind
    std::cerr << "corvenza: cannot write " << options.output << "\n";
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
      "prepare-photo",
      "Turn, scale and encode a photo exactly as it is prepared for upload");
  command->add_option("IN", options->input, "JPEG or PNG photo")->required();
  command->add_option("OUT", options->output, "Where to write the prepared JPEG")->required();
  command->callback([options, &exitCode] { exitCode = runPreparePhoto(*options); });
}

}  // namespace corvenza::cli
