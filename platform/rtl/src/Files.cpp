#include "rtl/Files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace rtl {

namespace {

constexpr char kPathNotFound[] = "The specified path was not found";

// Closes the folder on every way out, exceptions included.
class FolderHandle {
 public:
  explicit FolderHandle(DIR* dir) : dir_(dir) {}
  ~FolderHandle() {
    if (dir_) ::closedir(dir_);
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

bool IsRegularFile(int dirFd, const dirent& entry) {
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  // A link, or a file system that does not say: ask for what the name stands for.
  struct stat st {};
  if (::fstatat(dirFd, entry.d_name, &st, 0) != 0) return false;
  return S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::u16string> ListFiles(std::u16string_view folder) {
  const std::string path = UnicodeToUtf8(folder);
  if (path.empty()) throw Exception(kPathNotFound);
  FolderHandle dir(::opendir(path.c_str()));
  if (!dir.get()) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) throw Exception(kPathNotFound);
    throw Exception(std::string(std::strerror(error)) + ": " + path);
  }

  std::u16string prefix(folder);
  if (!prefix.empty() && prefix.back() != u'/') prefix += u'/';

  std::vector<std::u16string> files;
  const int fd = ::dirfd(dir.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0) throw Exception(std::string(std::strerror(errno)) + ": " + path);
      break;
    }
    if (!IsRegularFile(fd, *entry)) continue;  // also skips "." and ".."
    files.push_back(prefix + Utf8ToUnicode(entry->d_name));
  }
  return files;
}

}  // namespace rtl
