#include "platform/ini_file.h"

#include <mutex>
#include <optional>

#include "platform/atomic_file.h"
#include "platform/utf8.h"

namespace {

// Read-modify-write of a file must not interleave between threads.
std::mutex g_iniWriteMutex;

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// UTF-16LE (after its mark) to UTF-8; unpaired surrogates become U+FFFD and
// an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t(0xFFFD) : char32_t(u));
    }
    return out;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// A line made safe to write: CR and LF would start a line of their own.
std::string OneLine(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return s;
}

// The file as lines, with lookups and edits in private-profile terms.
class IniDocument {
public:
    // False when the file does not exist or cannot be read.
    bool Load(const std::filesystem::path& file) {
        std::string bytes;
        if (!ReadWholeFile(file, &bytes)) return false;
        std::string text;
        if (bytes.starts_with(kUtf8Mark)) {
            utf8Mark_ = true;
            text = bytes.substr(kUtf8Mark.size());
        } else if (bytes.starts_with(kUtf16LeMark)) {
            text = Utf16LeToUtf8(std::string_view(bytes).substr(kUtf16LeMark.size()));
        } else {
            text = std::move(bytes);
        }
        size_t nl = text.find('\n');
        if (nl != std::string::npos && nl > 0 && text[nl - 1] == '\r') eol_ = "\r\n";
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string_view line(text.data() + start, end - start);
            if (line.ends_with('\r')) line.remove_suffix(1);
            lines_.emplace_back(line);
            start = end + 1;
        }
        return true;
    }

    std::string Serialize() const {
        std::string out;
        for (const auto& line : lines_) {
            out += line;
            out += eol_;
        }
        // The mark stays, and text that would read as a mark gets one, so that
        // the file reads back as it was written.
        if (utf8Mark_ || out.starts_with(kUtf8Mark) || out.starts_with(kUtf16LeMark)) {
            out.insert(0, kUtf8Mark);
        }
        return out;
    }

    // The section name when `line` is a section header.
    static std::optional<std::string_view> SectionName(std::string_view line) {
        line = Trim(line);
        if (!line.starts_with('[')) return std::nullopt;
        size_t close = line.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        return Trim(line.substr(1, close - 1));
    }

    // Splits a key line into its name and raw value.
    static bool KeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || SectionName(line)) return false;
        *key = Trim(line.substr(0, eq));
        *value = Trim(line.substr(eq + 1));
        return true;
    }

    // Index of the first header of `section`, or npos.
    size_t FindSection(std::string_view section) const {
        for (size_t i = 0; i < lines_.size(); ++i) {
            auto name = SectionName(lines_[i]);
            if (name && EqualsNoCase(*name, section)) return i;
        }
        return std::string::npos;
    }

    // One past the last line of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const {
        size_t i = header + 1;
        while (i < lines_.size() && !SectionName(lines_[i])) ++i;
        return i;
    }

    // Index of the key's line in the first matching section, or npos.
    size_t FindKey(std::string_view section, std::string_view key) const {
        size_t header = FindSection(section);
        if (header == std::string::npos) return std::string::npos;
        size_t end = SectionEnd(header);
        for (size_t i = header + 1; i < end; ++i) {
            std::string_view k, v;
            if (KeyLine(lines_[i], &k, &v) && EqualsNoCase(k, key)) return i;
        }
        return std::string::npos;
    }

    bool Get(std::string_view section, std::string_view key, std::string* value) const {
        size_t at = FindKey(section, key);
        if (at == std::string::npos) return false;
        std::string_view k, v;
        KeyLine(lines_[at], &k, &v);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        value->assign(v);
        return true;
    }

    void Set(std::string_view section, std::string_view key, std::string_view value) {
        std::string s = OneLine(section);
        std::string k = OneLine(key);
        std::string v = OneLine(value);
        size_t at = FindKey(s, k);
        if (at != std::string::npos) {
            // The key keeps the spelling it has in the file.
            std::string_view oldKey, oldValue;
            KeyLine(lines_[at], &oldKey, &oldValue);
            lines_[at] = std::string(oldKey) + "=" + v;
            return;
        }
        size_t header = FindSection(s);
        if (header != std::string::npos) {
            // After the section's last non-blank line, before the blank lines
            // that separate it from the next section.
            size_t pos = SectionEnd(header);
            while (pos > header + 1 && Trim(lines_[pos - 1]).empty()) --pos;
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(pos), k + "=" + v);
            return;
        }
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + s + "]");
        lines_.push_back(k + "=" + v);
    }

    // Removes every line of `key` in the first `section`; false when none was there.
    bool Erase(std::string_view section, std::string_view key) {
        bool any = false;
        for (size_t at; (at = FindKey(OneLine(section), OneLine(key))) != std::string::npos;) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
            any = true;
        }
        return any;
    }

    std::vector<std::string> Keys(std::string_view section) const {
        std::vector<std::string> names;
        size_t header = FindSection(section);
        if (header == std::string::npos) return names;
        for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
            std::string_view k, v;
            if (KeyLine(lines_[i], &k, &v)) names.emplace_back(k);
        }
        return names;
    }

    std::vector<std::string> Sections() const {
        std::vector<std::string> names;
        for (const auto& line : lines_) {
            if (auto name = SectionName(line)) names.emplace_back(*name);
        }
        return names;
    }

private:
    std::vector<std::string> lines_;
    std::string eol_ = "\n";
    bool utf8Mark_ = false;
};

}  // namespace

bool IniReadValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  std::string* value) {
    IniDocument doc;
    return doc.Load(file) && doc.Get(section, key, value);
}

bool IniWriteValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   std::string_view value) {
    return IniWriteValues(file, section, {{std::string(key), std::string(value)}});
}

bool IniWriteValues(const std::filesystem::path& file, std::string_view section,
                    const std::vector<std::pair<std::string, std::string>>& values) {
    std::lock_guard<std::mutex> lock(g_iniWriteMutex);
    IniDocument doc;
    if (!doc.Load(file)) {
        // Only a missing file starts empty; an unreadable one is not overwritten.
        std::error_code ec;
        if (std::filesystem::exists(file, ec) || ec) return false;
    }
    for (const auto& [key, value] : values) doc.Set(section, key, value);
    return WriteFileAtomically(file, doc.Serialize());
}

bool IniDeleteKey(const std::filesystem::path& file, std::string_view section, std::string_view key) {
    std::lock_guard<std::mutex> lock(g_iniWriteMutex);
    IniDocument doc;
    if (!doc.Load(file)) {
        std::error_code ec;
        return !std::filesystem::exists(file, ec) && !ec;  // nothing stored, nothing to remove
    }
    if (!doc.Erase(section, key)) return true;
    return WriteFileAtomically(file, doc.Serialize());
}

std::vector<std::string> IniSectionNames(const std::filesystem::path& file) {
    IniDocument doc;
    if (!doc.Load(file)) return {};
    return doc.Sections();
}

std::vector<std::string> IniKeyNames(const std::filesystem::path& file, std::string_view section) {
    IniDocument doc;
    if (!doc.Load(file)) return {};
    return doc.Keys(section);
}

bool IniWriteSectionFile(const std::filesystem::path& file, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& values) {
    std::lock_guard<std::mutex> lock(g_iniWriteMutex);
    IniDocument doc;
    for (const auto& [key, value] : values) doc.Set(section, key, value);
    return WriteFileAtomically(file, doc.Serialize());
}
