#pragma once
// Percent-encoding for form posts and share links.

#include <string>
#include <string_view>

// Keeps 0-9, A-Z and a-z; every other byte becomes %XX (upper-case hex), so
// a space is %20 and "-_.~" are encoded too.
std::string UrlEncode(std::string_view text);

// '+' is a space; '%' and the two characters after it become the byte whose
// value their leading hex digits give (0 when none). A '%' with fewer than two
// characters left is kept as it stands. Nothing past the end is read.
std::string UrlDecode(std::string_view text);
