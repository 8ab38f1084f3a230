#pragma once
// INI files with the private-profile semantics the program's configuration
// relies on:
// - sections and keys are found without regard to (ASCII) case, and the first
//   matching section and the first matching key in it win;
// - values are trimmed and one pair of surrounding quotes (" or ') is removed
//   on read;
// - a write replaces the key's line in place, or appends the key at the end of
//   its section, or appends a new section at the end of the file, creating the
//   file when it is missing (never its folder);
// - files are read as UTF-8, with or without a byte-order mark, or as UTF-16LE
//   with its mark; they are written as UTF-8;
// - a write replaces the whole file atomically, and CR or LF in a written
//   name or value become spaces so that they cannot start a new line.
// Texts are UTF-8.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The value of `key` in `section`; false when the file, the section or the key
// is missing (then `value` is left alone).
bool IniReadValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  std::string* value);

// Sets `key` in `section` to `value`; false when the file could not be written.
bool IniWriteValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   std::string_view value);

// Sets every key of `values` in `section`, in order, as that many
// IniWriteValue calls would, but with one rewrite of the file: all of them
// are stored, or (false) none.
bool IniWriteValues(const std::filesystem::path& file, std::string_view section,
                    const std::vector<std::pair<std::string, std::string>>& values);

// Removes `key` (every line of it) from `section`; true when the key is gone
// afterwards (also when it never was there), false when the file could not
// be rewritten.
bool IniDeleteKey(const std::filesystem::path& file, std::string_view section, std::string_view key);

// The names of the file's sections in file order; empty when it has none or is missing.
std::vector<std::string> IniSectionNames(const std::filesystem::path& file);

// The key names of the first `section` (found without regard to case), in
// file order; empty when the file or the section is missing.
std::vector<std::string> IniKeyNames(const std::filesystem::path& file, std::string_view section);

// Replaces the whole file, in one atomic write, by a file holding `section`
// with `values` as its keys in order (a repeated key keeps its first place and
// its last value). For lists that are always written whole.
bool IniWriteSectionFile(const std::filesystem::path& file, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& values);
