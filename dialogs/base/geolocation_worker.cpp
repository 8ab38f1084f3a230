#include "dialogs/base/geolocation_worker.h"

#include <system_error>

#include "dialogs/base/node_form.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/host_cache.h"
#include "netconfig/local_host.h"
#include "nodes/account/service_config.h"
#include "nodes/geo/country_table.h"
#include "nodes/geo/geo_lookup.h"

CGeolocationWorker::~CGeolocationWorker() {
    AbortAndJoin();
}

std::string CGeolocationWorker::LookupTarget(const std::wstring& server) {
    const std::wstring text = TrimmedText(server);
    if (text.empty() || HasControlCharacter(text)) return {};
    if (IsAddressTextW(text) && !IsValidIPv4W(text)) return {};
    return WideToUtf8String(text);
}

bool CGeolocationWorker::ShouldLookUpOnLeave(const std::wstring& server) {
    const std::wstring text = ToUpperW(TrimmedText(server));
    return !text.empty() && !IsLocalAddressW(text.c_str());
}

bool CGeolocationWorker::Start(const std::wstring& server) {
    if (!idle_.load()) return false;
    std::string target = LookupTarget(server);
    if (target.empty()) return false;
    // The previous lookup has finished (idle): collect its thread.
    if (thread_.joinable()) thread_.join();
    abort_.store(false);
    idle_.store(false);
    try {
        thread_ = std::thread(&CGeolocationWorker::Run, this, std::move(target));
    } catch (const std::system_error&) {
        idle_.store(true);
        return false;
    }
    return true;
}

void CGeolocationWorker::AbortAndJoin() {
    abort_.store(true);
    if (thread_.joinable()) thread_.join();
}

void CGeolocationWorker::Run(std::string server) {
    GeolocationResult result;
    std::string address;
    if (GetServiceConfig().geoJsonCBase.empty()) {
        // No country service: nothing to ask, so the name is not looked up
        // either and the form stays as it is.
    } else if (!ResolveHostCached(server, &address)) {
        result.message = {N_("Can not resolve your domain name when getting IP location."), {}};
    } else if (!abort_.load()) {
        std::string code, name, region;
        if (LookupCountryJsonC(address, code, name, region, &abort_)) {
            result.answered = true;
            result.countryRow = GetCountryIndexByCode(code);
        }
    }
    if (abort_.load()) result = GeolocationResult{};
    if (done_) done_(result);
    idle_.store(true);
}
