#include "platform/resolv_helper.h"

#include <cstdio>
#include <optional>

#include "platform/host_guard.h"
#include "platform/resolv_conf.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadInput = 2;
constexpr int kNotOurs = 3;

// Printable form of an argument for the refusal line.
std::string Shown(const std::string& arg) {
    std::string out;
    for (char c : arg) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
        if (out.size() > 80) return out + "...";
    }
    return out;
}

int Refuse(std::string* err, const std::string& why) {
    *err += "cendrow-resolv: " + why + "\n";
    return kBadInput;
}

int Fail(std::string* err, const std::string& why) {
    *err += "cendrow-resolv: " + why + "\n";
    return kFailed;
}

// The machine's resolv.conf, by path or as the same file.
bool IsMachineFile(const std::filesystem::path& target) {
    std::error_code ec;
    return target == "/etc/resolv.conf" || std::filesystem::equivalent(target, "/etc/resolv.conf", ec);
}

bool Guarded(const std::filesystem::path& target, std::string* err) {
    if (!IsMachineFile(target)) return false;
    if (!HostGuard_RefusesInMachineNamespace(("a change of " + target.string()).c_str())) return false;
    Fail(err, "refused by the host guard");
    return true;
}

int Set(const std::vector<std::string>& servers, const std::filesystem::path& target, std::string* out,
        std::string* err) {
    if (Guarded(target, err)) return kFailed;
    std::optional<std::string> now;
    if (!ResolvConf_ReadFile(target, &now)) return Fail(err, "cannot read " + target.string());
    const std::string before = now ? *now : std::string();
    if (!ResolvConf_WriteInPlace(target, ResolvConf_ReplaceServers(before, servers))) {
        if (now) ResolvConf_WriteInPlace(target, *now);
        return Fail(err, "cannot write " + target.string());
    }
    for (const std::string& s : ResolvConf_ParseServers(before)) *out += s + "\n";
    return kDone;
}

int Restore(const std::vector<std::string>& old, const std::vector<std::string>& ours,
            const std::filesystem::path& target, std::string* err) {
    if (Guarded(target, err)) return kFailed;
    std::optional<std::string> now;
    if (!ResolvConf_ReadFile(target, &now)) return Fail(err, "cannot read " + target.string());
    if (!now || ResolvConf_ParseServers(*now) != ours) {
        *err += "cendrow-resolv: the nameservers are not the ones given as ours; nothing changed\n";
        return kNotOurs;
    }
    if (!ResolvConf_WriteInPlace(target, ResolvConf_PutBackServers(*now, old))) {
        ResolvConf_WriteInPlace(target, *now);
        return Fail(err, "cannot write " + target.string());
    }
    return kDone;
}

}  // namespace

int ResolvHelper_Run(const std::vector<std::string>& args, const std::filesystem::path& target, std::string* out,
                     std::string* err) {
    const char* usage = "usage: cendrow-resolv set A [B [C]] | restore --old [X ...] --ours A [B [C]]";
    if (args.empty()) return Refuse(err, usage);
    if (args[0] == "set") {
        std::vector<std::string> servers(args.begin() + 1, args.end());
        if (servers.empty() || servers.size() > 3) return Refuse(err, "set takes one to three addresses");
        for (const std::string& s : servers)
            if (!ResolvConf_IsDottedIPv4(s)) return Refuse(err, "not a dotted IPv4 address: \"" + Shown(s) + "\"");
        return Set(servers, target, out, err);
    }
    if (args[0] == "restore") {
        if (args.size() < 2 || args[1] != "--old") return Refuse(err, usage);
        std::vector<std::string> old, ours;
        size_t i = 2;
        for (; i < args.size() && args[i] != "--ours"; ++i) {
            if (!ResolvConf_IsNameserverAddress(args[i]))
                return Refuse(err, "not a nameserver address: \"" + Shown(args[i]) + "\"");
            old.push_back(args[i]);
        }
        if (i == args.size()) return Refuse(err, usage);
        for (++i; i < args.size(); ++i) {
            if (!ResolvConf_IsDottedIPv4(args[i]))
                return Refuse(err, "not a dotted IPv4 address: \"" + Shown(args[i]) + "\"");
            ours.push_back(args[i]);
        }
        if (old.size() > static_cast<size_t>(kResolvHelperMaxOldServers))
            return Refuse(err, "too many addresses after --old");
        if (ours.empty() || ours.size() > 3) return Refuse(err, "--ours takes one to three addresses");
        return Restore(old, ours, target, err);
    }
    return Refuse(err, "unknown verb \"" + Shown(args[0]) + "\"; " + usage);
}

int ResolvHelper_Main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::string out, err;
    int status = ResolvHelper_Run(args, "/etc/resolv.conf", &out, &err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return status;
}

std::filesystem::path ResolvHelper_PathIn(const std::filesystem::path& programFolder) {
    return programFolder / "cendrow-resolv";
}
