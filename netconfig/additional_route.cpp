#include "netconfig/additional_route.h"

#include <system_error>
#include <utility>
#include <vector>

#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/netconfig_log.h"
#include "platform/ini_file.h"

namespace {

constexpr const wchar_t* kFileName = L"additionalroute.ini";

}  // namespace

void CAdditionalRouteMgr::Add(const std::wstring& address, int action) {
    if (IsLoopbackText(address) || Exists(address) || !IsValidIPv4W(address)) return;
    routes_.emplace(address, action);
}

int CAdditionalRouteMgr::Load() {
    CIniNembril ini(GetAppDir(), std::filesystem::path(WideToUtf8String(kFileName)));
    for (int n = 1;; ++n) {
        std::wstring ipKey = L"ip" + std::to_wstring(n);
        std::wstring actionKey = L"action" + std::to_wstring(n);
        if (!ini.IsKeyExist(L"basic", ipKey.c_str()) || !ini.IsKeyExist(L"basic", actionKey.c_str())) break;
        std::wstring address = ini.GetString(L"basic", ipKey.c_str(), L"");
        if (address.size() > 4096) address.resize(4096);
        int action = ini.GetInt(L"basic", actionKey.c_str(), 0);
        if (IsAddressTextW(address) && IsValidIPv4W(address)) Add(address, action);
    }
    return static_cast<int>(routes_.size());
}

int CAdditionalRouteMgr::Save() {
    std::filesystem::path file = GetAppDir() / "config" / WideToUtf8String(kFileName);
    if (routes_.empty()) {
        // An emptied list is stored as no file; only a file that stays is a failure.
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (ec && ec != std::errc::no_such_file_or_directory) {
            NetconfigLog("Additional routes: " + file.string() + " could not be deleted");
            return 0;
        }
        return 1;
    }
    std::vector<std::pair<std::string, std::string>> values;
    int n = 1;
    for (const auto& [address, action] : routes_) {
        values.emplace_back("ip" + std::to_string(n), WideToUtf8String(address));
        values.emplace_back("action" + std::to_string(n), std::to_string(action));
        ++n;
    }
    // One atomic replacement: a crash or a full disk never leaves half a list.
    if (!IniWriteSectionFile(file, "basic", values)) {
        NetconfigLog("Additional routes: " + file.string() + " could not be written");
        return 0;
    }
    return 1;
}
