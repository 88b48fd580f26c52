#pragma once

// The Windows side of the log that tests reach: the check that decides
// whether the crash log can lie beside the executable.

#include <filesystem>

namespace olvex {

// Whether this process can create files in `folder`.
using FolderWriteCheck = bool (*)(const std::filesystem::path& folder);

// Replaces the check crash_log_path() makes of the executable's folder (a
// trial file by default; nullptr restores it). Returns the replacement it
// displaces, nullptr for the default. Under Wine every folder is writable,
// so tests inject the answer.
FolderWriteCheck replace_folder_write_check(FolderWriteCheck check) noexcept;

}  // namespace olvex
