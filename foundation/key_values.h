#pragma once
// Lists of key/value pairs such as URL queries ("a=1&b=2").

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CKeyValuesA {
public:
    CKeyValuesA() = default;
    CKeyValuesA(std::string k, std::string v) : key(std::move(k)), value(std::move(v)) {}
    virtual ~CKeyValuesA() = default;
    CKeyValuesA(const CKeyValuesA&) = default;
    CKeyValuesA& operator=(const CKeyValuesA&) = default;

    std::string key;
    std::string value;
};

// Splits `text` at `pairSep` (empty pieces kept); each piece holding `keySep`
// becomes a pair split at its first occurrence, other pieces are skipped.
// Appends to `out` and returns its size, or 0 when the text or a separator is empty.
size_t ParseKeyValues(std::string_view text, std::string_view keySep, std::string_view pairSep,
                      std::vector<CKeyValuesA>& out);
