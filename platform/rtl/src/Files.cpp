#include "rtl/Files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace rtl {

namespace {

constexpr char kPathNotFound[] = "The specified path was not found";

struct UpcaseRun {
  char16_t first;
  char16_t last;
  std::int32_t delta;
  std::uint8_t step;  // 1: every unit of the run; 2: every other one, from `first`
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "UpcaseTable.inc"
};

// One listed file with its sort key, made once rather than in every comparison. The key holds
// the name upper-cased, then the name itself, then its bytes on disk, each part ended by a zero
// unit (no name holds one, so a name that begins another sorts first); units are stored high
// byte first, so comparing keys as bytes (memcmp) compares units as numbers.
struct Listed {
  std::string key;
  std::u16string name;
};

std::string SortKey(const std::u16string& name, const char* bytes) {
  const std::size_t units = name.size();
  std::string key(4 * units + 4, '\0');  // the two zero units included
  char* upper = key.data();
  char* own = upper + 2 * units + 2;
  for (const char16_t unit : name) {
    const char16_t up = FileNameUpcase(unit);
    *upper++ = static_cast<char>(up >> 8);
    *upper++ = static_cast<char>(up & 0xFF);
    *own++ = static_cast<char>(unit >> 8);
    *own++ = static_cast<char>(unit & 0xFF);
  }
  key += bytes;
  return key;
}

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

  std::vector<Listed> listed;
  const int fd = ::dirfd(dir.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0) throw Exception(std::string(std::strerror(errno)) + ": " + path);
      break;
    }
    if (!IsRegularFile(fd, *entry)) continue;  // also skips "." and ".."
    Listed file;
    file.name = Utf8ToUnicode(entry->d_name);
    file.key = SortKey(file.name, entry->d_name);
    listed.push_back(std::move(file));
  }
  std::sort(listed.begin(), listed.end(),
            [](const Listed& a, const Listed& b) { return a.key < b.key; });

  std::vector<std::u16string> files;
  files.reserve(listed.size());
  for (const Listed& file : listed) {
    std::u16string joined;
    joined.reserve(prefix.size() + file.name.size());
    joined.append(prefix).append(file.name);
    files.push_back(std::move(joined));
  }
  return files;
}

char16_t FileNameUpcase(char16_t unit) {
  if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  // The last run that starts at or before the unit.
  const UpcaseRun* run =
      std::upper_bound(std::begin(kUpcaseRuns), std::end(kUpcaseRuns), unit,
                       [](char16_t u, const UpcaseRun& r) { return u < r.first; });
  if (run == std::begin(kUpcaseRuns)) return unit;
  --run;
  if (unit > run->last || (unit - run->first) % run->step != 0) return unit;
  return static_cast<char16_t>(unit + run->delta);
}

}  // namespace rtl
