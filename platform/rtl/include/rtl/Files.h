#pragma once
// Folder functions of the run-time library.

#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// The regular files directly in `folder` (symbolic links count as what they point to), each as
// the folder joined with the file name, in the order the file system's enumeration returns
// them: never sorted. Subfolders and their contents are not listed.
// Raises rtl::Exception("The specified path was not found") when `folder` is empty, does not
// exist or is no folder; another rtl::Exception when it cannot be read.
// File names are UTF-8 on disk; a name that is not valid UTF-8 comes back with U+FFFD in place
// of its bad bytes.
std::vector<std::u16string> ListFiles(std::u16string_view folder);

}  // namespace rtl
