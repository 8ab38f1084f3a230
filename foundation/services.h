#pragma once
// Stand-ins for the Windows service manager and firewall. This program never
// starts, stops or reconfigures a service of the machine and adds no firewall
// rule: it answers from the machine's real state where it can read one
// (systemd units) and otherwise reports success without acting. Every answer
// that did not act says so in the program log.

#include <cstdint>
#include <string>

struct ServiceHandleRecord;
using SC_HANDLE = ServiceHandleRecord*;

inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

// A manager handle for the calls below; null never happens here. Closed with CloseServiceHandle.
SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, uint32_t access);
// A handle naming one service; null for an empty name.
SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, uint32_t access);
bool CloseServiceHandle(SC_HANDLE handle);

// Whether the service runs: 1 running, 0 stopped, -1 unknown (no systemd, or
// no unit of it on this machine). The DHCP client ("Dhcp") is whichever of
// the usual network managers' units the machine has.
int QueryServiceRunning(const std::wstring& name);

// True when the service is in the wanted state, or when its state cannot be
// known here. Never acts.
bool SetServiceRunning(uint32_t access, SC_HANDLE manager, const wchar_t* name, bool run, bool autoStart);
// True unless the service handle is null. Never acts.
bool ControlServiceStartType(SC_HANDLE service, SC_HANDLE manager, bool autoStart);

// COM-style result codes.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057);

// This system's firewalls filter by address and port, not by program: there
// is nothing to authorise. S_OK, or E_INVALIDARG for an empty path or name.
int32_t AddFirewallException(const wchar_t* applicationPath, const wchar_t* displayName);
