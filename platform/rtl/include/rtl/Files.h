#pragma once
// Folder functions of the run-time library.

#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// The regular files directly in `folder` (symbolic links count as what they point to), each as
// the folder joined with the file name. Subfolders and their contents are not listed.
//
// The files come sorted by name the way an NTFS folder lists them, whatever the file system
// and the order of its enumeration (hashed on ext4, newest first on tmpfs): each UTF-16 code
// unit of a name is upper-cased alone (FileNameUpcase) and the names are compared unit by unit
// as unsigned numbers, the shorter first when one begins the other. So "a.png" comes before
// "B.jpg", "Picture099.jpg" before "Picture100.jpg", "10.jpg" before "9.jpg" (no natural
// sort), "_" (0x5F) after "A" to "Z", and a character outside the BMP (surrogates, 0xD800
// to 0xDFFF) before U+E000 to U+FFFF, U+FFFD included. Names that this makes equal, which NTFS
// would not let share a folder (they differ only in case, or in bytes that are no UTF-8),
// follow one another by their own UTF-16 code units ("A.jpg" before "a.jpg"), then by their
// bytes on disk, so the order never depends on the enumeration.
//
// Raises rtl::Exception("The specified path was not found") when `folder` is empty, does not
// exist or is no folder; another rtl::Exception when it cannot be read.
// File names are UTF-8 on disk; a name that is not valid UTF-8 comes back with U+FFFD in place
// of its bad bytes.
std::vector<std::u16string> ListFiles(std::u16string_view folder);

// The upper case of one UTF-16 code unit as the listing compares names: the simple one-to-one
// upper-case mapping of Unicode where it stays within 16 bits ("a" -> "A", "\u00FF" ->
// "\u0178", final sigma -> "\u03A3"), the unit itself where there is none ("\u00DF", digits,
// "_"), and for surrogates, which have no case of their own.
char16_t FileNameUpcase(char16_t unit);

}  // namespace rtl
