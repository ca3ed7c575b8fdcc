#include "scripts/temporary_paths.h"

#include <utility>

#include "scripts/script_file_io.h"

namespace tavrin::scripts {

TemporaryPaths TemporaryPaths::In(const std::filesystem::path& directory) {
  return TemporaryPaths{
      .directory = directory,
      .scriptStore = directory / kScriptStoreFileName,
      .deleteScratch = directory / kDeleteScratchFileName,
      .commandImage = directory / kCommandImageFileName,
      .downloadFile = directory / kDownloadFileName,
  };
}

Status DeleteTemporaryFiles(const TemporaryPaths& paths) {
  Status first = Ok();
  for (const auto& [path, step] : {std::pair{&paths.scriptStore, "delete script store"},
                                   std::pair{&paths.downloadFile, "delete downloaded file"},
                                   std::pair{&paths.commandImage, "delete command image"}}) {
    Status removed = RemoveFile(*path, step);
    if (!removed && first) first = removed;
  }
  return first;
}

}  // namespace tavrin::scripts
