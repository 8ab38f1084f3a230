#pragma once
// Key and IV of the data-file container. They are derived from fixed material
// at every use and never stored; changing any byte of that material makes
// every existing data file unreadable.

#include <array>
#include <string>

struct FileBuilderKey {
    std::array<unsigned char, 16> key;
    std::array<unsigned char, 16> iv;
};

// The key scheme of a container whose first version byte is `v0`: scheme 1
// for version 1, scheme 2 for version 2, scheme 3 for every other version.
FileBuilderKey FileBuilderKeyForVersion(unsigned char v0);

// Scheme 3: the first 16 characters of hexadecimal MD5 texts over the fixed material.
std::string DeriveFileKey();
std::string DeriveFileIv();
