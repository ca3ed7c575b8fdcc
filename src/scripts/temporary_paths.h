// The working files of the script subsystem and the download, all in the program's
// temporary directory. The paths are composed once, when the directory is known, and
// only read afterwards (also by the download transfer thread).
#pragma once

#include <filesystem>

#include "scripts/script_result.h"

namespace tavrin::scripts {

constexpr const char* kScriptStoreFileName = "zvqScript.tvr";    // the script store
constexpr const char* kDeleteScratchFileName = "zvqDel.tvr";     // used while deleting
constexpr const char* kCommandImageFileName = "CmdUrtFile.urt";  // the command image
constexpr const char* kDownloadFileName = "zvqDumpBIN.fdb";      // downloaded file in assembly

struct TemporaryPaths {
  std::filesystem::path directory;
  std::filesystem::path scriptStore;
  std::filesystem::path deleteScratch;
  std::filesystem::path commandImage;
  std::filesystem::path downloadFile;

  static TemporaryPaths In(const std::filesystem::path& directory);
};

// Deletes the script store, the downloaded file in assembly and the command image; a
// missing file is no error. Every file is tried; the first failure is returned.
Status DeleteTemporaryFiles(const TemporaryPaths& paths);

}  // namespace tavrin::scripts
