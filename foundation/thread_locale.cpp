#include "foundation/thread_locale.h"

#include <atomic>
#include <cstdlib>

#include "foundation/ascii_case.h"

namespace {

struct LocaleRow {
    uint32_t lcid;
    const char* name;
};

// Languages with a main country first, so that a bare language finds it.
constexpr LocaleRow kLocales[] = {
    {1033, "en_US"}, {2057, "en_GB"}, {2052, "zh_CN"}, {1028, "zh_TW"}, {3076, "zh_HK"}, {4100, "zh_SG"},
    {1031, "de_DE"}, {1036, "fr_FR"}, {1041, "ja_JP"}, {1042, "ko_KR"}, {1049, "ru_RU"}, {3082, "es_ES"},
    {1040, "it_IT"}, {1046, "pt_BR"}, {2070, "pt_PT"}, {1043, "nl_NL"}, {1045, "pl_PL"}, {1055, "tr_TR"},
    {1066, "vi_VN"}, {1054, "th_TH"}, {1057, "id_ID"}, {1025, "ar_SA"}, {1037, "he_IL"}, {1029, "cs_CZ"},
    {1030, "da_DK"}, {1035, "fi_FI"}, {1044, "nb_NO"}, {1053, "sv_SE"}, {1032, "el_GR"}, {1038, "hu_HU"},
    {1048, "ro_RO"}, {1058, "uk_UA"}, {1086, "ms_MY"}, {1081, "hi_IN"}, {1034, "es_ES"},
};

// 0 until set: then the environment decides.
std::atomic<uint32_t> g_threadLocale{0};

}  // namespace

std::string LocaleNameFromLcid(uint32_t lcid) {
    for (const auto& row : kLocales) {
        if (row.lcid == lcid) return row.name;
    }
    return {};
}

uint32_t LcidFromLocaleName(std::string_view name) {
    // Strip ".codeset" and "@modifier".
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty()) return 0;
    for (const auto& row : kLocales) {
        if (AsciiEqualsNoCase(name, row.name)) return row.lcid;
    }
    if (name.find('_') != std::string_view::npos) name = name.substr(0, name.find('_'));
    for (const auto& row : kLocales) {
        std::string_view rowName(row.name);
        if (AsciiEqualsNoCase(name, rowName.substr(0, rowName.find('_')))) return row.lcid;
    }
    return 0;
}

uint32_t GetUserDefaultLocale() {
    if (const char* language = std::getenv("LANGUAGE")) {
        std::string_view list(language);
        while (!list.empty()) {
            size_t colon = list.find(':');
            if (uint32_t id = LcidFromLocaleName(list.substr(0, colon))) return id;
            if (colon == std::string_view::npos) break;
            list.remove_prefix(colon + 1);
        }
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && value[0]) {
            // The first of these that is set decides, as it does for the C library.
            uint32_t id = LcidFromLocaleName(value);
            return id ? id : kLocaleEnglishUS;
        }
    }
    return kLocaleEnglishUS;
}

uint32_t GetThreadLocale() {
    uint32_t id = g_threadLocale.load(std::memory_order_acquire);
    return id ? id : GetUserDefaultLocale();
}

int SetThreadLocale(uint32_t lcid) {
    if (lcid == 0 || lcid == kLocaleUserDefault) {
        g_threadLocale.store(0, std::memory_order_release);
        return 1;
    }
    g_threadLocale.store(lcid, std::memory_order_release);
    std::string name = LocaleNameFromLcid(lcid);
    if (name.empty()) return 0;
    setenv("LANGUAGE", name.c_str(), 1);
    return 1;
}
