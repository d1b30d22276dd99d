#pragma once
// One headless LibreOffice kept ready between conversions, per user and LibreOffice build.
//
// The first conversion starts the keeper program (Officekeeper, beside the converter), which
// starts soffice.bin on a private profile of ours with one hidden empty text document open (an
// office with no document left ends itself after a handed-over conversion) and waits for its
// single-instance pipe. A conversion then hands its --convert-to command line to the instance
// over that pipe itself (OfficePipe.h), as a second soffice.bin on that profile would, and waits
// until the instance reports it converted, so a conversion costs no office start at all.
//
// Everything lives in one private folder, $XDG_RUNTIME_DIR/vellumark-office/libreoffice-<build>
// (else vellumark-office-<uid> in the temporary folder):
//   lock     flock: one conversion at a time uses the instance; the keeper's idle end takes it too
//   keeper   flock held by the live keeper for its whole life
//   state    "<keeper pid> <office pid>": the office leads its own process group
//   used     touched after each conversion
//   profile/ the instance's LibreOffice profile; tmp/ its temporary folder
// The keeper ends the office (its whole process group) and itself, and removes profile/ and tmp/,
// after kIdle without a conversion, when the office dies, when that folder disappears (logind
// removes $XDG_RUNTIME_DIR when the user's last session ends) or its login session is closing, and
// on SIGTERM, SIGINT or SIGHUP. The office gets SIGKILL should the keeper itself be killed.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "office/ImpressDeck.h"

namespace office::detail {

// How long the instance waits for the next conversion before it ends.
constexpr std::chrono::minutes kIdle{10};

enum class KeptRun {
  Converted,    // the instance made what was wanted
  Failed,       // it did not: the instance has been ended, the output folder emptied
  Unavailable,  // no instance could be used (no keeper, busy for long, would not start)
};

// Runs one conversion on the kept instance, starting it when none runs. `launcher` is the
// LibreOffice program the cold runs use; `templ` a set-up profile to start from (may be empty).
KeptRun ConvertOnKeptOffice(const ConvertOptions& options, const std::string& launcher,
                            const std::string& target, const std::filesystem::path& outDir,
                            const std::vector<std::filesystem::path>& inputs,
                            const std::filesystem::path& templ, const std::function<bool()>& made,
                            std::string* error);

struct KeptProcesses {
  pid_t keeper = 0;
  pid_t office = 0;
};
// The live keeper and its office for `launcher`, if any.
std::optional<KeptProcesses> FindKeptOffice(const std::string& launcher);
// Ends them and waits until they are gone; false when none ran.
bool EndKeptOfficeFor(const std::string& launcher, std::chrono::milliseconds wait);
// The socket on which the instance for `launcher` takes the command lines handed to it.
std::filesystem::path KeptOfficePipe(const std::string& launcher);

// What became of this process's attempts to use the instance.
struct KeptCounts {
  int converted = 0;
  int failed = 0;
  int unavailable = 0;
};
KeptCounts KeptRunCounts();

// The keeper program's entry: Officekeeper <folder> <soffice.bin> <idle ms> <start ms> <template>,
// with the pipe to report readiness on ("ready" or "failed") as file descriptor 3.
int RunKeeper(int argc, char** argv);

// LibreOffice's launcher (oosplash) for a soffice program, as the cold runs start it.
std::string LauncherFor(const std::string& soffice);
// The name that keeps the profile and the instance of one LibreOffice build apart.
std::string BuildKey(const std::string& launcher);
// The profile URL handed to LibreOffice.
std::string FileUrl(const std::filesystem::path& path);
// Where the set-up profile for `launcher` is kept, under `cacheRoot`.
std::filesystem::path ProfileTemplate(const std::string& cacheRoot, const std::string& launcher);
// Saves a profile that worked as that template.
void SaveTemplate(const std::filesystem::path& profile, const std::filesystem::path& target);
bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);
// Marks a profile made from a template as having seen the version of the LibreOffice whose
// `program` (soffice.bin or its launcher) is given. Without that mark every start takes
// LibreOffice for freshly updated: it searches the user's home for older profiles to take
// settings from (and marks those it found) and costs most of a second more.
void MarkVersionSeen(const std::filesystem::path& profile, const std::string& program);
// What every LibreOffice of ours runs with: no settings taken over from the user's own profiles.
inline constexpr const char* kNoMigration = "SAL_DISABLE_USERMIGRATION=1";

}  // namespace office::detail
