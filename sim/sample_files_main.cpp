// tavrin-sample-files DIR: writes sample.urt (an upload image for the simulated target's
// default identity) and sample.dsf (a download script of three regions) into DIR, so that
// the demo and a first run have something to send. --help and --version as every program.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "options/program_options.h"
#include "scripts/script_store.h"
#include "sim/target_config.h"
#include "transfer/packet_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFrames = 40;
constexpr std::size_t kPayload = 2991;  // the largest frame, 3000 bytes

Bytes UploadImage() {
  const auto& id = tavrin::sim::kDefaultIdentity;  // Id2 (3), Id1 (4), Id3 (4)
  Bytes image(28, 0);
  image[0] = 'B';
  image[1] = 'U';
  std::copy(id.begin() + 3, id.begin() + 7, image.begin() + 12);
  std::copy(id.begin(), id.begin() + 3, image.begin() + 16);
  std::copy(id.begin() + 7, id.end(), image.begin() + 20);
  image[24] = static_cast<std::uint8_t>(kFrames);
  for (std::size_t f = 0; f < kFrames; ++f) {
    Bytes payload(kPayload);
    for (std::size_t i = 0; i < kPayload; ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + f);
    const Bytes frame = tavrin::transfer::BuildFrame(payload);
    image.insert(image.end(), frame.begin(), frame.end());
  }
  return image;
}

bool WriteScript(const std::filesystem::path& dir) {
  tavrin::scripts::ScriptStore store(dir);
  struct Region {
    std::uint32_t start, end;
    std::uint8_t partitionId;
  };
  for (const Region& region :
       {Region{0x10000, 0x12000, 1}, Region{0x40000, 0x40800, 0}, Region{0x80000, 0x81000, 8}}) {
    tavrin::scripts::ScriptRecord record;
    record.command = {region.start, region.end, 1, 0, 0, 0x1234};
    record.header.partitionId = region.partitionId;
    record.header.partitionType = 1;
    record.header.size = region.end - region.start;
    if (!store.AppendRecord(record)) return false;
  }
  const bool saved = static_cast<bool>(store.SaveDsf(dir / "sample.dsf"));
  (void)store.DeleteTemporaryFiles();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kUsageStatus = 1;
  std::string folder;
  CLI::App app(
      "Writes sample.urt (an upload image for the simulated target's default identity) and\n"
      "sample.dsf (a download script of three regions) into DIR, made when missing.");
  tavrin::options::SetUpProgram(app, "tavrin-sample-files");
  app.add_option("DIR", folder, "the folder to write them into")->type_name("")->required();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const auto end = tavrin::options::Parse(app, args, kUsageStatus)) {
    std::fputs(end->out.c_str(), stdout);
    std::fputs(end->err.c_str(), stderr);
    return end->status;
  }
  const std::filesystem::path dir = folder;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  const Bytes image = UploadImage();
  std::ofstream(dir / "sample.urt", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  if (!WriteScript(dir)) {
    std::fprintf(stderr, "tavrin-sample-files: cannot write %s\n", (dir / "sample.dsf").c_str());
    return 1;
  }
  std::printf("%s\n%s\n", (dir / "sample.urt").c_str(), (dir / "sample.dsf").c_str());
  return 0;
}
