#include "foundation/services.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/ascii_case.h"
#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"

struct ServiceHandleRecord {
    std::wstring name;  // empty for the manager
};

namespace {

// The systemd units that stand for a Windows service on this machine.
std::vector<std::string> UnitsFor(const std::wstring& name) {
    if (AsciiEqualsNoCase(name, std::wstring_view(L"Dhcp")))
        return {"NetworkManager.service", "systemd-networkd.service", "dhcpcd.service", "connman.service"};
    std::string unit = WideToUtf8String(name);
    // Only plain unit names reach systemctl.
    for (char c : unit) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' && c != '@')
            return {};
    }
    return {unit.find('.') == std::string::npos ? unit + ".service" : unit};
}

bool SystemdRuns() {
    std::error_code ec;
    return std::filesystem::is_directory("/run/systemd/system", ec);
}

// 0 active, 3 inactive or failed, 4 no such unit (systemctl is-active's codes).
int UnitState(const std::string& unit) {
    int code = -1;
    if (!RunCommandHidden({"systemctl", "is-active", "--quiet", unit}, -1, &code)) return -1;
    return code;
}

void Log(const std::string& line) {
    AppendToProgramLog(line);
}

}  // namespace

SC_HANDLE OpenSCManagerW(const wchar_t* /*machine*/, const wchar_t* /*database*/, uint32_t /*access*/) {
    return new ServiceHandleRecord{};
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, uint32_t /*access*/) {
    if (!manager || !name || !name[0]) return nullptr;
    return new ServiceHandleRecord{name};
}

bool CloseServiceHandle(SC_HANDLE handle) {
    if (!handle) return false;
    delete handle;
    return true;
}

int QueryServiceRunning(const std::wstring& name) {
    if (name.empty() || !SystemdRuns()) return -1;
    bool anyKnown = false;
    for (const auto& unit : UnitsFor(name)) {
        int state = UnitState(unit);
        if (state == 0) return 1;
        if (state == 3) anyKnown = true;
    }
    return anyKnown ? 0 : -1;
}

bool SetServiceRunning(uint32_t access, SC_HANDLE manager, const wchar_t* name, bool run, bool autoStart) {
    if (!manager || !name) return false;
    SC_HANDLE service = OpenServiceW(manager, name, access);
    if (!service) return false;
    std::string text = WideToUtf8String(name);
    int running = QueryServiceRunning(name);
    bool result;
    if (running < 0) {
        Log("service " + text + ": state unknown here; left to the system");
        result = true;
    } else {
        result = (running == 1) == run;
        if (!result) {
            Log("service " + text + (running ? " runs" : " is stopped") +
                "; the program does not start or stop services, the system's configuration decides");
            ControlServiceStartType(service, manager, autoStart);
        }
    }
    CloseServiceHandle(service);
    return result;
}

bool ControlServiceStartType(SC_HANDLE service, SC_HANDLE /*manager*/, bool autoStart) {
    if (!service) return false;
    Log("service " + WideToUtf8String(service->name) + ": start type " +
        (autoStart ? "automatic" : "disabled") + " not applied; the system's configuration decides");
    return true;
}

int32_t AddFirewallException(const wchar_t* applicationPath, const wchar_t* displayName) {
    if (!applicationPath || !applicationPath[0] || !displayName || !displayName[0]) return E_INVALIDARG;
    Log("firewall: nothing to authorise for " + WideToUtf8String(displayName) + " (" +
        WideToUtf8String(applicationPath) + "); rules here are by address and port");
    return S_OK;
}
