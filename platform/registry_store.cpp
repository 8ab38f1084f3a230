#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/atomic_file.h"

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string Escape(std::string_view s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '%' || c == '=' || c == '[' || c == ']') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(std::string_view s, std::string* out) {
    out->clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            *out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return false;
        int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return true;
}

struct Key {
    std::string path;
    std::vector<std::pair<std::string, RegistryValue>> values;
};

using Keys = std::vector<Key>;

// Reads the store; a missing file is an empty store. Lines that do not parse
// are skipped.
bool Load(const std::filesystem::path& file, Keys* keys) {
    keys->clear();
    std::string text;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return !ec;
    if (!ReadWholeFile(file, &text)) return false;
    Key* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end) - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            std::string path;
            current = nullptr;
            if (!Unescape(line.substr(1, line.size() - 2), &path) || path.empty()) continue;
            keys->push_back({path, {}});
            current = &keys->back();
            continue;
        }
        size_t eq = line.find('=');
        size_t colon = eq == std::string_view::npos ? eq : line.find(':', eq + 1);
        if (!current || colon == std::string_view::npos) continue;
        std::string name, data;
        std::string_view typeText = line.substr(eq + 1, colon - eq - 1);
        uint32_t type = 0;
        bool typeOk = !typeText.empty() && typeText.size() <= 9;
        for (char c : typeText) {
            if (c < '0' || c > '9') typeOk = false;
            type = type * 10 + static_cast<uint32_t>(c - '0');
        }
        if (!typeOk || !Unescape(line.substr(0, eq), &name) || !Unescape(line.substr(colon + 1), &data))
            continue;
        current->values.push_back({name, {type, data}});
    }
    return true;
}

bool Save(const std::filesystem::path& file, const Keys& keys) {
    std::string text = "; Cendrow settings store\n";
    for (const auto& key : keys) {
        text += "[" + Escape(key.path) + "]\n";
        for (const auto& [name, value] : key.values)
            text += Escape(name) + "=" + std::to_string(value.type) + ":" + Escape(value.data) + "\n";
    }
    return WriteFileAtomically(file, text);
}

Key* FindKey(Keys& keys, std::string_view path) {
    for (auto& key : keys) {
        if (SameNoCase(key.path, path)) return &key;
    }
    return nullptr;
}

// Holds an exclusive lock on "<file>.lock" for the life of the object.
class StoreLock {
public:
    explicit StoreLock(const std::filesystem::path& file) {
        std::string lockPath = file.string() + ".lock";
        fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Trims separators at both ends; empty segments in between are refused.
bool NormalisePath(std::string_view path, std::string* out) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.empty() || path.find("\\\\") != std::string_view::npos) return false;
    *out = std::string(path);
    return true;
}

// Reads the store under its lock for a query: a store whose folder does not
// exist yet is empty.
int LoadForReading(const std::filesystem::path& file, const StoreLock& lock, Keys* keys) {
    keys->clear();
    std::error_code ec;
    if (!lock.held()) return std::filesystem::exists(file.parent_path(), ec) ? kRegAccessDenied : kRegOk;
    return Load(file, keys) ? kRegOk : kRegAccessDenied;
}

std::vector<std::pair<std::string, RegistryValue>>::iterator FindValue(Key& key, std::string_view name) {
    auto it = key.values.begin();
    while (it != key.values.end() && !SameNoCase(it->first, name)) ++it;
    return it;
}

// Runs `change` on the key under the store's lock and saves the store when it
// reports a change.
template <class Change>
int UpdateKey(const std::filesystem::path& file, std::string_view keyPath, Change change) {
    std::string path;
    if (!NormalisePath(keyPath, &path)) return kRegInvalidParameter;
    StoreLock lock(file);
    Keys keys;
    if (!lock.held() || !Load(file, &keys)) return kRegAccessDenied;
    Key* key = FindKey(keys, path);
    if (!key) return kRegNotFound;
    if (!change(*key)) return kRegOk;
    return Save(file, keys) ? kRegOk : kRegAccessDenied;
}

}  // namespace

int RegistryStore::OpenKey(std::string_view keyPath) const {
    std::string path;
    if (!NormalisePath(keyPath, &path)) return kRegInvalidParameter;
    StoreLock lock(file_);
    Keys keys;
    if (int r = LoadForReading(file_, lock, &keys)) return r;
    return FindKey(keys, path) ? kRegOk : kRegNotFound;
}

int RegistryStore::CreateKey(std::string_view keyPath) const {
    std::string path;
    if (!NormalisePath(keyPath, &path)) return kRegInvalidParameter;
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    StoreLock lock(file_);
    Keys keys;
    if (!lock.held() || !Load(file_, &keys)) return kRegAccessDenied;
    bool changed = false;
    for (size_t sep = 0; sep != std::string::npos;) {
        sep = path.find('\\', sep + 1);
        std::string prefix = path.substr(0, sep);
        if (!FindKey(keys, prefix)) {
            keys.push_back({prefix, {}});
            changed = true;
        }
    }
    if (changed && !Save(file_, keys)) return kRegAccessDenied;
    return kRegOk;
}

int RegistryStore::GetValue(std::string_view keyPath, std::string_view name, RegistryValue* value) const {
    std::string path;
    if (!value || !NormalisePath(keyPath, &path)) return kRegInvalidParameter;
    StoreLock lock(file_);
    Keys keys;
    if (int r = LoadForReading(file_, lock, &keys)) return r;
    Key* key = FindKey(keys, path);
    if (!key) return kRegNotFound;
    auto it = FindValue(*key, name);
    if (it == key->values.end()) return kRegNotFound;
    *value = it->second;
    return kRegOk;
}

int RegistryStore::SetValue(std::string_view keyPath, std::string_view name,
                            const RegistryValue& value) const {
    return UpdateKey(file_, keyPath, [&](Key& key) {
        auto it = FindValue(key, name);
        if (it != key.values.end())
            it->second = value;
        else
            key.values.push_back({std::string(name), value});
        return true;
    });
}

int RegistryStore::DeleteValue(std::string_view keyPath, std::string_view name) const {
    return UpdateKey(file_, keyPath, [&](Key& key) {
        auto it = FindValue(key, name);
        if (it == key.values.end()) return false;
        key.values.erase(it);
        return true;
    });
}

std::string MakeMultiString(const std::vector<std::string>& texts) {
    std::string data;
    for (const auto& t : texts) {
        data += t;
        data += '\0';
    }
    data += '\0';
    return data;
}
