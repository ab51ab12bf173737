#pragma once
// The update client's engine. An update is prepared in the staging folder ".update/" of the
// installation: the accepted manifest, each item downloaded and verified (size and SHA-256)
// before anything is installed, and while installing a journal and the replaced files. Items are
// installed by rename within one file system; a replaced file is kept until the update is
// finished, so a failed or interrupted installation is put back file by file.
#include <functional>
#include <optional>
#include <string>

#include "transport/fetch.h"
#include "updater/client/manifest.h"
#include "updater/client/record.h"

namespace hv::update {

enum class UpdateError {
  None,
  NoInstallation,
  NoAnswer,
  BadManifest,
  NothingNewer,
  NotPrepared,
  BadRecord,
  Download,
  Verify,
  Write,
  Install,
  Journal,
};
const char* updateErrorText(UpdateError e);

inline constexpr char kDefaultVersion[] = "1.2";

struct UpdaterConfig {
  std::string installDir;  // ends in "/"
  std::string manifestUrl;
  net::FetchProxy proxy;
  int timeoutMs = 5000;
  // Called after each durable step of an installation (tests stop the process there).
  std::function<void(const char* step)> afterStep;
};

class Updater {
 public:
  explicit Updater(UpdaterConfig config);

  int initialize();
  int checkUpdate();
  int createUpdateProcess();
  int itemCount();
  bool getItem(int index, UpdateItemRecord& item);
  int downloadItem(UpdateItemRecord& item);
  int setItem(int index, const UpdateItemRecord& item);
  int checkLocal();
  int executeItem(UpdateItemRecord& item);
  int finished();

  std::string installedVersion() const;
  UpdateError lastError() const { return error_; }
  const std::string& stagingDir() const { return staging_; }

 private:
  int fail(UpdateError e);
  const Manifest* staged();
  std::string stagedItemPath(size_t index) const;
  std::string backupPath(size_t index) const;
  std::string versionFile() const;
  bool verified(const std::string& file, const ManifestItem& item) const;
  bool journal(const std::string& line);
  void step(const char* name);
  // Puts back whatever an unfinished installation changed and clears the staging folder;
  // a finished one only has its staging folder cleared.
  bool recover();
  bool insideInstallation(const std::string& folder) const;

  UpdaterConfig config_;
  std::string staging_;
  std::optional<Manifest> offered_;
  std::optional<Manifest> staged_;
  UpdateError error_ = UpdateError::None;
};

// The manifest in its published form (absolute addresses): what is kept in the staging folder.
std::string serializeManifest(const Manifest& m);

// SHA-256 of a file; nullopt when it cannot be read.
std::optional<std::array<uint8_t, 32>> fileSha256(const std::string& path);

}  // namespace hv::update
