#pragma once
// Program resources by type and numeric id. Pictures and icons that the
// windows load by id live as files in the program folder:
// "<program>/res/<type>/<id>.<ext>", the type folder in lower case
// ("gif", "bitmap", "icon") and the extension given by the type.

#include <filesystem>
#include <string>
#include <string_view>

// The file that holds resource `id` of `type` (compared without regard to
// case); empty for an unknown type or a negative id. The file need not exist.
std::filesystem::path ResourceFilePath(const std::filesystem::path& programFolder, std::string_view type,
                                       int id);

// Reads the whole resource into `out`; false when it is missing, unreadable,
// empty or larger than `maxBytes`.
bool LoadResourceBytes(const std::filesystem::path& programFolder, std::string_view type, int id,
                       std::string& out, size_t maxBytes = 16u << 20);

// A string resource: the line "<id><tab><UTF-8 text>" of the program
// folder's "res/strings.txt" (lines starting with '#' are comments); false
// when the file or the id is missing.
bool LoadStringResourceUtf8(const std::filesystem::path& programFolder, int id, std::string& out);
