#pragma once
// Environment, paths and files of the user's profile directory.

#include <optional>
#include <string>
#include <string_view>

// The value of the environment variable `name`, or none when it is unset.
std::optional<std::string> env_var(const char* name);

// True when a status query of `path` succeeds (file or folder exists).
bool path_exists(const std::string& path);

// Creates the folder `path` with permission bits 0700.
// Returns 0 on success or the error number.
int make_directory(const std::string& path);

// Creates or truncates the file `path` and writes `text` to it.
// Returns 0 on success or the error number; a partly written file is removed.
int write_text_file(const std::string& path, std::string_view text);

// The system's description of an error number.
std::string error_text(int error_number);
