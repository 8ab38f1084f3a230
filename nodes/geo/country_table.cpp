#include "nodes/geo/country_table.h"

#include <cstring>

#include "foundation/text_convert.h"
#include "foundation/translate.h"

namespace {

struct CountryRow {
    const char* code;
    const char* name;
};

// The order is the order of the flags in the flag strip.
const CountryRow kCountryTable[] = {
    {"CN", "China"},          {"US", "United States of America"},
    {"GB", "United Kingdom"}, {"FR", "France"},
    {"GR", "Greece"},         {"NL", "Netherlands"},
    {"NO", "Norway"},         {"DE", "Germany"},
    {"UA", "Ukraine"},        {"RU", "Russia"},
    {"TH", "Thailand"},       {"IN", "India"},
    {"KR", "South Korea"},    {"SG", "Singapore"},
    {"JP", "Japan"},          {"PH", "Philippines"},
    {"MY", "Malaysia"},       {"IT", "Italy"},
    {"ES", "Spain"},          {"BR", "Brazil"},
    {"TW", "Taiwan"},         {"HK", "Hong Kong"},
    {"MO", "Macao"},          {"LA", "Laos"},
    {"VN", "Vietnam"},        {"ID", "Indonesia"},
    {"TR", "Turkey"},         {"PT", "Portugal"},
    {"SE", "Sweden"},         {"LU", "Luxembourg"},
    {"AU", "Australia"},      {"NZ", "New Zealand"},
    {"CA", "Canada"},         {"MX", "Mexico"},
    {"AR", "Argentina"},      {"PE", "Peru"},
    {"PA", "Panama"},         {"EG", "Egypt"},
    {"ZA", "Africa"},         {"AT", "Austria"},
    {"RO", "Romania"},        {nullptr, nullptr},
};

}  // namespace

int GetCountryCount() {
    int count = 0;
    while (kCountryTable[count].code) ++count;
    return count;
}

const char* GetCountryCode(int index) {
    return index >= 0 && index < GetCountryCount() ? kCountryTable[index].code : nullptr;
}

const char* GetCountryEnglishName(int index) {
    return index >= 0 && index < GetCountryCount() ? kCountryTable[index].name : nullptr;
}

std::wstring GetCountryName(int index) {
    const char* name = GetCountryEnglishName(index);
    return Utf8ToWideString(Translate(name ? name : "Unkown Country"));
}

int GetCountryIndexByCode(std::string_view code) {
    if (code.size() < 2) return -1;
    for (int i = 0; kCountryTable[i].code; ++i) {
        if (kCountryTable[i].code[0] == code[0] && kCountryTable[i].code[1] == code[1]) return i;
    }
    return -1;
}

int GetCountryIndexByCode(const char* code) {
    if (!code) return -1;
    return GetCountryIndexByCode(std::string_view(code, strnlen(code, 2)));
}
