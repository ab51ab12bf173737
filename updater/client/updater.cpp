#include "updater/client/updater.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/fs.h"
#include "platform/profile.h"

namespace hv::update {

const char* updateErrorText(UpdateError e) {
  switch (e) {
    case UpdateError::None:
      return "no error";
    case UpdateError::NoInstallation:
      return "the installation folder is missing or not writable";
    case UpdateError::NoAnswer:
      return "the web site gave no manifest";
    case UpdateError::BadManifest:
      return "the manifest was refused";
    case UpdateError::NothingNewer:
      return "no newer version is offered";
    case UpdateError::NotPrepared:
      return "no update is prepared";
    case UpdateError::BadRecord:
      return "the item record is not one of this update";
    case UpdateError::Download:
      return "the item could not be downloaded";
    case UpdateError::Verify:
      return "the downloaded item has the wrong size or checksum";
    case UpdateError::Write:
      return "the staging folder could not be written";
    case UpdateError::Install:
      return "the item could not be installed";
    case UpdateError::Journal:
      return "the installation journal could not be written";
  }
  return "unknown error";
}

namespace {

class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr);
  }
  void add(const void* d, size_t n) { EVP_DigestUpdate(ctx_.get(), d, n); }
  std::array<uint8_t, 32> done() {
    std::array<uint8_t, 32> out{};
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx_.get(), out.data(), &len);
    return out;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx_;
};

std::string hex(const uint8_t* d, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[d[i] >> 4];
    s += digits[d[i] & 15];
  }
  return s;
}

bool copyText(char* field, size_t capacity, const std::string& text) {
  if (text.size() >= capacity) return false;
  std::memcpy(field, text.data(), text.size());
  field[text.size()] = 0;
  return true;
}

bool syncFolder(const std::string& folder) {
  const int fd = fs::open(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool lexists(const std::string& path) {
  struct stat st;
  auto os = fs::osPath(path);
  return os && ::lstat(os->c_str(), &st) == 0;
}

std::optional<std::string> realFolder(const std::string& path) {
  auto os = fs::osPath(path);
  if (!os) return std::nullopt;
  char* r = ::realpath(os->c_str(), nullptr);
  if (!r) return std::nullopt;
  std::string out = r;
  ::free(r);
  return out + "/";
}

}  // namespace

std::optional<std::array<uint8_t, 32>> fileSha256(const std::string& path) {
  const int fd = fs::open(path, O_RDONLY | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  Sha256 sha;
  std::vector<char> buf(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    sha.add(buf.data(), size_t(n));
  }
  ::close(fd);
  return sha.done();
}

std::string serializeManifest(const Manifest& m) {
  std::string s =
      "handvane-update 1\nversion " + m.version + "\nmanual " + (m.manual ? "yes" : "no") + "\n";
  for (const auto& item : m.items) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", item.mode);
    s += "item " + std::to_string(item.size) + " " + hex(item.sha256.data(), 32) + " " + mode +
         " " + item.path + " " + item.url + "\n";
  }
  return s;
}

Updater::Updater(UpdaterConfig config) : config_(std::move(config)) {
  if (!config_.installDir.empty() && config_.installDir.back() != '/') config_.installDir += '/';
  staging_ = config_.installDir + ".update/";
}

int Updater::fail(UpdateError e) {
  error_ = e;
  return -1;
}

void Updater::step(const char* name) {
  if (config_.afterStep) config_.afterStep(name);
}

std::string Updater::versionFile() const {
  return config_.installDir + "DATA/version.ini";
}

std::string Updater::installedVersion() const {
  std::string v = profile::getString(versionFile(), "Update", "Version", kDefaultVersion);
  return isVersion(v) ? v : kDefaultVersion;
}

std::string Updater::stagedItemPath(size_t index) const {
  return staging_ + "items/" + std::to_string(index);
}
std::string Updater::backupPath(size_t index) const {
  return staging_ + "backup/" + std::to_string(index);
}

bool Updater::insideInstallation(const std::string& folder) const {
  const auto root = realFolder(config_.installDir);
  const auto real = realFolder(folder);
  return root && real && real->compare(0, root->size(), *root) == 0;
}

int Updater::initialize() {
  error_ = UpdateError::None;
  if (config_.installDir.empty() || !fs::isDirectory(config_.installDir)) {
    return fail(UpdateError::NoInstallation);
  }
  auto os = fs::osPath(config_.installDir);
  if (!os || ::access(os->c_str(), W_OK) != 0) return fail(UpdateError::NoInstallation);
  staged_.reset();
  if (!recover()) return fail(UpdateError::Install);
  return 0;
}

int Updater::checkUpdate() {
  error_ = UpdateError::None;
  offered_.reset();
  std::string text;
  const auto r = net::fetchText(config_.manifestUrl, config_.proxy, kMaxManifestBytes,
                                config_.timeoutMs, text);
  if (!r.ok()) {
    fail(UpdateError::NoAnswer);
    return r.error == net::FetchError::TooLarge ? -3 : -1;
  }
  ManifestError e;
  Manifest m = parseManifest(text, config_.manifestUrl, e);
  if (e != ManifestError::None) {
    fail(UpdateError::BadManifest);
    return -2;
  }
  if (compareVersions(m.version, installedVersion()) <= 0) return 0;
  const bool manual = m.manual;
  offered_ = std::move(m);
  return manual ? 1 : 2;
}

int Updater::createUpdateProcess() {
  error_ = UpdateError::None;
  if (!offered_ || offered_->manual) return fail(UpdateError::NothingNewer), 1;
  const std::string text = serializeManifest(*offered_);
  const std::string manifestFile = staging_ + "manifest";
  // A download interrupted earlier goes on where it stopped when the same update is offered.
  auto old = fs::readFile(manifestFile);
  if (!old || *old != text) {
    if (lexists(staging_) && !fs::removeAll(staging_)) return fail(UpdateError::Write);
    if (!fs::makeDirectories(staging_ + "items", 0700) ||
        !fs::writeFileAtomic(manifestFile, text, 0600)) {
      return fail(UpdateError::Write);
    }
  }
  staged_ = *offered_;
  return 0;
}

const Manifest* Updater::staged() {
  if (staged_) return &*staged_;
  auto text = fs::readFile(staging_ + "manifest");
  if (!text) return nullptr;
  ManifestError e;
  Manifest m = parseManifest(*text, "", e);
  if (e != ManifestError::None) return nullptr;
  staged_ = std::move(m);
  return &*staged_;
}

int Updater::itemCount() {
  const Manifest* m = staged();
  return m ? int(m->items.size()) : fail(UpdateError::NotPrepared);
}

bool Updater::verified(const std::string& file, const ManifestItem& item) const {
  const auto size = fs::fileSize(file);
  if (!size || *size != item.size) return false;
  const auto sha = fileSha256(file);
  return sha && *sha == item.sha256;
}

bool Updater::getItem(int index, UpdateItemRecord& rec) {
  const Manifest* m = staged();
  if (!m || index < 0 || size_t(index) >= m->items.size()) {
    fail(UpdateError::NotPrepared);
    return false;
  }
  const ManifestItem& item = m->items[size_t(index)];
  std::memset(&rec, 0, sizeof rec);
  rec.magic = kRecordMagic;
  rec.index = uint32_t(index);
  rec.size = item.size;
  std::memcpy(rec.sha256, item.sha256.data(), 32);
  copyText(rec.path, sizeof rec.path, item.path);
  const std::string local = stagedItemPath(size_t(index));
  if (verified(local, item) && copyText(rec.localPath, sizeof rec.localPath, local)) {
    rec.done = 1;
  }
  return true;
}

int Updater::downloadItem(UpdateItemRecord& rec) {
  error_ = UpdateError::None;
  const Manifest* m = staged();
  if (!m) return fail(UpdateError::NotPrepared);
  if (rec.magic != kRecordMagic || rec.index >= m->items.size()) {
    return fail(UpdateError::BadRecord);
  }
  const ManifestItem& item = m->items[rec.index];
  const std::string final = stagedItemPath(rec.index);
  const std::string part = final + ".part";
  if (!fs::makeDirectories(staging_ + "items", 0700)) return fail(UpdateError::Write);
  fs::removeFile(part);
  const int fd = fs::open(part, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return fail(UpdateError::Write);
  Sha256 sha;
  bool writeFailed = false;
  const auto r = net::fetch(item.url, config_.proxy, item.size, config_.timeoutMs,
                            [&](const char* d, size_t n) {
                              sha.add(d, n);
                              while (n > 0) {
                                const ssize_t w = ::write(fd, d, n);
                                if (w <= 0) {
                                  writeFailed = true;
                                  return false;
                                }
                                d += w;
                                n -= size_t(w);
                              }
                              return true;
                            });
  const bool synced = !writeFailed && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  auto discard = [&](UpdateError e) {
    fs::removeFile(part);
    return fail(e);
  };
  if (writeFailed || !synced || !closed) return discard(UpdateError::Write);
  if (!r.ok()) return discard(UpdateError::Download);
  if (r.bytes != item.size || sha.done() != item.sha256) return discard(UpdateError::Verify);
  if (!fs::rename(part, final) || !syncFolder(staging_ + "items")) {
    return discard(UpdateError::Write);
  }
  copyText(rec.localPath, sizeof rec.localPath, final);
  rec.done = 1;
  return 0;
}

int Updater::setItem(int index, const UpdateItemRecord& rec) {
  const Manifest* m = staged();
  if (!m) return fail(UpdateError::NotPrepared);
  if (rec.magic != kRecordMagic || index < 0 || rec.index != uint32_t(index) ||
      size_t(index) >= m->items.size()) {
    return fail(UpdateError::BadRecord);
  }
  // The staged file and the journal are the durable state; an applied item is confirmed there.
  if (rec.applied && !journal("recorded " + std::to_string(index))) {
    return fail(UpdateError::Journal);
  }
  return 0;
}

int Updater::checkLocal() {
  const Manifest* m = staged();
  if (!m) return fail(UpdateError::NotPrepared), 1;
  if (compareVersions(m->version, installedVersion()) <= 0)
    return fail(UpdateError::NothingNewer), 1;
  for (size_t i = 0; i < m->items.size(); ++i) {
    if (!verified(stagedItemPath(i), m->items[i])) return fail(UpdateError::Verify), 1;
  }
  return 0;
}

bool Updater::journal(const std::string& line) {
  const int fd = fs::open(staging_ + "journal", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string text = line + "\n";
  const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

int Updater::executeItem(UpdateItemRecord& rec) {
  error_ = UpdateError::None;
  const Manifest* m = staged();
  if (!m) return fail(UpdateError::NotPrepared);
  if (rec.magic != kRecordMagic || rec.index >= m->items.size()) {
    return fail(UpdateError::BadRecord);
  }
  const size_t index = rec.index;
  const ManifestItem& item = m->items[index];
  const std::string stagedFile = stagedItemPath(index);
  const std::string target = config_.installDir + item.path;
  auto abort = [&](UpdateError e) {
    recover();
    return fail(e);
  };
  if (!verified(stagedFile, item)) return abort(UpdateError::Verify);
  const std::string folder = fs::directoryOf(target);
  if (!fs::makeDirectories(folder) || !insideInstallation(folder)) {
    return abort(UpdateError::Install);
  }
  if (fs::isDirectory(target)) return abort(UpdateError::Install);
  const bool hadOld = lexists(target);
  if (!fs::makeDirectories(staging_ + "backup", 0700)) return abort(UpdateError::Write);
  if (!journal("apply " + std::to_string(index) + " " + (hadOld ? "1" : "0"))) {
    return abort(UpdateError::Journal);
  }
  step("journaled");
  if (hadOld) {
    if (!fs::rename(target, backupPath(index))) return abort(UpdateError::Install);
    step("backed-up");
  }
  auto os = fs::osPath(stagedFile);
  if (!os || ::chmod(os->c_str(), item.mode) != 0) return abort(UpdateError::Install);
  if (!fs::rename(stagedFile, target)) return abort(UpdateError::Install);
  syncFolder(folder);
  step("installed");
  if (!journal("done " + std::to_string(index))) return abort(UpdateError::Journal);
  rec.applied = 1;
  return 0;
}

int Updater::finished() {
  error_ = UpdateError::None;
  const Manifest* m = staged();
  if (!m) return fail(UpdateError::NotPrepared);
  // The version is recorded before the journal says "finished": until then an interruption
  // puts the old files back, and the old version file with them.
  const bool hadVersion = lexists(versionFile());
  const std::string versionBackup = staging_ + "backup/version.ini";
  if (!fs::makeDirectories(staging_ + "backup", 0700) ||
      (hadVersion && !fs::copyFile(versionFile(), versionBackup, true)) ||
      !journal(std::string("version ") + (hadVersion ? "1" : "0"))) {
    recover();
    return fail(UpdateError::Journal);
  }
  if (!fs::makeDirectories(config_.installDir + "DATA") ||
      !profile::writeString(versionFile(), "Update", "Version", m->version)) {
    recover();
    return fail(UpdateError::Write);
  }
  step("versioned");
  if (!journal("finished")) {
    recover();
    return fail(UpdateError::Journal);
  }
  step("finished");
  staged_.reset();
  fs::removeAll(staging_);
  return 0;
}

bool Updater::recover() {
  auto text = fs::readFile(staging_ + "journal");
  if (!text) return true;  // nothing was being installed
  struct Applied {
    size_t index;
    bool hadOld;
  };
  std::vector<Applied> applied;
  bool finishedRun = false;
  std::string versionLine;
  size_t pos = 0;
  while (pos < text->size()) {
    size_t end = text->find('\n', pos);
    if (end == std::string::npos) break;  // a line cut by the interruption was never acted on
    const std::string line = text->substr(pos, end - pos);
    pos = end + 1;
    if (line == "finished") finishedRun = true;
    if (line == "version 0" || line == "version 1") versionLine = line;
    unsigned long index = 0;
    int old = 0;
    if (std::sscanf(line.c_str(), "apply %lu %d", &index, &old) == 2) {
      applied.push_back({size_t(index), old == 1});
    }
  }
  if (!finishedRun) {
    const Manifest* m = staged();
    if (!m) return false;  // cannot tell where the files went: leave everything for a look
    for (auto it = applied.rbegin(); it != applied.rend(); ++it) {
      if (it->index >= m->items.size()) return false;
      const std::string target = config_.installDir + m->items[it->index].path;
      if (it->hadOld) {
        const std::string backup = backupPath(it->index);
        if (lexists(backup) && !fs::rename(backup, target)) return false;
      } else if (!lexists(stagedItemPath(it->index)) && lexists(target)) {
        if (!fs::removeFile(target)) return false;
      }
      syncFolder(fs::directoryOf(target));
    }
    if (versionLine == "version 1") {
      const std::string backup = staging_ + "backup/version.ini";
      if (lexists(backup) && !fs::rename(backup, versionFile())) return false;
    } else if (versionLine == "version 0") {
      fs::removeFile(versionFile());
    }
  }
  staged_.reset();
  offered_.reset();
  return fs::removeAll(staging_);
}

}  // namespace hv::update
