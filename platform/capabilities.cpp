#include "platform/capabilities.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

// The two 32-bit halves of the version 3 interface.
struct CapSets {
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
};

bool GetCaps(CapSets* sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::memset(sets, 0, sizeof *sets);
    return syscall(SYS_capget, &header, sets->data) == 0;
}

bool SetCaps(const CapSets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    CapSets copy = sets;
    return syscall(SYS_capset, &header, copy.data) == 0;
}

bool Valid(int cap) {
    return cap >= 0 && cap < 32 * _LINUX_CAPABILITY_U32S_3;
}

uint32_t Bit(int cap) {
    return 1u << (cap % 32);
}

}  // namespace

bool Caps_IsRoot() {
    return geteuid() == 0;
}

bool Caps_HasEffective(int cap) {
    CapSets sets;
    if (!Valid(cap) || !GetCaps(&sets)) return false;
    return (sets.data[cap / 32].effective & Bit(cap)) != 0;
}

bool Caps_FileGrants(const std::filesystem::path& file, int cap) {
    if (!Valid(cap)) return false;
    vfs_ns_cap_data raw{};
    ssize_t n = getxattr(file.c_str(), "security.capability", &raw, sizeof raw);
    if (n < static_cast<ssize_t>(XATTR_CAPS_SZ_1)) return false;
    uint32_t magic = raw.magic_etc & VFS_CAP_REVISION_MASK;
    if (magic == VFS_CAP_REVISION_1 ? n != XATTR_CAPS_SZ_1 : n < static_cast<ssize_t>(XATTR_CAPS_SZ_2))
        return false;
    if (magic != VFS_CAP_REVISION_1 && magic != VFS_CAP_REVISION_2 && magic != VFS_CAP_REVISION_3) return false;
    if (magic == VFS_CAP_REVISION_1 && cap >= 32) return false;
    if (!(raw.magic_etc & VFS_CAP_FLAGS_EFFECTIVE)) return false;
    return (raw.data[cap / 32].permitted & Bit(cap)) != 0;
}

CapsAmbientScope::CapsAmbientScope(int cap) : cap_(cap) {
    if (Caps_IsRoot()) return;
    CapSets sets;
    if (!Valid(cap) || !GetCaps(&sets) || !(sets.data[cap / 32].permitted & Bit(cap))) {
        ok_ = false;
        return;
    }
    // Ambient needs the capability inheritable as well as permitted.
    sets.data[cap / 32].inheritable |= Bit(cap);
    ok_ = SetCaps(sets) && prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, cap, 0, 0) == 0;
    raised_ = true;
}

CapsAmbientScope::~CapsAmbientScope() {
    if (!raised_) return;
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, cap_, 0, 0);
    CapSets sets;
    if (!GetCaps(&sets)) return;
    sets.data[cap_ / 32].inheritable &= ~Bit(cap_);
    SetCaps(sets);
}
