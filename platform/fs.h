#pragma once
// Files and folders. Paths inside the suite are GBK strings with "/" separators; these functions
// convert them to the UTF-8 names of the file system and fail (errno EILSEQ) on a path that is not
// valid GBK.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::fs {

// The file-system name of a suite path; nullopt when the path is not valid GBK.
HV_EXPORT std::optional<std::string> osPath(std::string_view gbkPath);
// The suite path of a file-system name; nullopt when it has no GBK form.
HV_EXPORT std::optional<std::string> suitePath(std::string_view osName);

HV_EXPORT int open(std::string_view path, int flags, mode_t mode = 0);
HV_EXPORT FILE* fopen(std::string_view path, const char* mode);
HV_EXPORT bool exists(std::string_view path);
HV_EXPORT bool isDirectory(std::string_view path);
HV_EXPORT bool removeFile(std::string_view path);
// Removes a folder and everything below it; symbolic links are removed, never followed.
HV_EXPORT bool removeAll(std::string_view path);
// Creates the folder and its missing parents.
HV_EXPORT bool makeDirectories(std::string_view path, mode_t mode = 0755);
HV_EXPORT bool copyFile(std::string_view from, std::string_view to, bool overwrite);
HV_EXPORT bool rename(std::string_view from, std::string_view to);
HV_EXPORT std::optional<uint64_t> fileSize(std::string_view path);
// Names in a folder (suite paths), without "." and "..".
HV_EXPORT std::vector<std::string> list(std::string_view dir);

HV_EXPORT std::optional<std::string> readFile(std::string_view path);
// Replaces the file's contents atomically: a temporary file beside it, fsync, rename, then fsync of
// the folder. A failure at any step leaves the old file as it was.
HV_EXPORT bool writeFileAtomic(std::string_view path, std::string_view contents,
                               mode_t mode = 0644);

// Shipped files are looked up as on Windows: each path component matches without regard to ASCII
// case. Returns the existing path with the spelling found on disk, or nullopt when no such file.
// Components that exist with the exact spelling are taken as they are.
HV_EXPORT std::optional<std::string> resolveNoCase(std::string_view path);
// resolveNoCase when the file exists, otherwise the path unchanged (for files about to be created).
HV_EXPORT std::string resolveOrKeep(std::string_view path);

// The folder part of a path, with its trailing "/" ("" when there is none).
HV_EXPORT std::string directoryOf(std::string_view path);
// The text after the last "." of the file name ("" when none).
HV_EXPORT std::string extensionOf(std::string_view path);

// The suite's home, ending in "/": $HANDVANE_HOME when set; else the folder of the running program
// when it is writable; else $XDG_DATA_HOME/handvane (~/.local/share/handvane), filled from the
// program's folder on first use with whatever is missing there (the user's files are never
// overwritten).
HV_EXPORT const std::string& suiteHome();
// Fills a home from the program's folder: every file of its subfolders that the home lacks (the
// programs and libraries at the top are not copied, and nothing there is ever overwritten).
HV_EXPORT void fillHome(const std::string& programFolder, const std::string& home);
// The folder of the running program, ending in "/".
HV_EXPORT std::string programDirectory();

// The private temporary folder of this user, ending in "/": $XDG_RUNTIME_DIR/handvane or
// $TMPDIR/handvane-<uid> (/tmp when TMPDIR is unset), mode 0700. A folder of that name that is a
// link, belongs to someone else or is open to others is not used: tempDirectory() then answers "".
HV_EXPORT std::string tempDirectory();

// Creates a new file with O_EXCL and mode 0600 in dir (tempDirectory() when empty), named
// prefix + random + suffix. Returns its path, or nullopt when no file could be created. The file
// is closed again; it exists and is empty.
HV_EXPORT std::optional<std::string> createTempFile(std::string_view dir = {},
                                                    std::string_view prefix = "hv",
                                                    std::string_view suffix = ".tmp");
// Creates a new private folder (mode 0700) the same way.
HV_EXPORT std::optional<std::string> createTempDirectory(std::string_view dir = {},
                                                         std::string_view prefix = "hv");

// Keeps the home lookup in tests from sticking to the first answer.
HV_EXPORT void resetSuiteHomeForTesting();

}  // namespace hv::fs
