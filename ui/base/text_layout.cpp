#include "ui/base/text_layout.h"

namespace {

void WrapParagraph(const std::wstring& para, int width,
                   const std::function<int(const std::wstring&)>& measure, std::vector<std::wstring>& out) {
    std::wstring line;
    size_t i = 0;
    while (i < para.size()) {
        // The next word with the blanks before it.
        size_t j = i;
        while (j < para.size() && para[j] == L' ') ++j;
        while (j < para.size() && para[j] != L' ') ++j;
        const std::wstring piece = para.substr(i, j - i);
        if (measure(line + piece) <= width) {
            line += piece;
            i = j;
            continue;
        }
        if (!line.empty()) {
            out.push_back(line);
            line.clear();
            while (i < para.size() && para[i] == L' ') ++i;  // blanks at a break vanish
            continue;
        }
        // One word wider than the line: as many characters as fit (at least one).
        std::wstring word = piece;
        size_t k = word.find_first_not_of(L' ');
        word = k == std::wstring::npos ? std::wstring() : word.substr(k);
        size_t n = 1;
        while (n < word.size() && measure(word.substr(0, n + 1)) <= width) ++n;
        out.push_back(word.substr(0, n));
        i = i + (k == std::wstring::npos ? piece.size() : k) + n;
    }
    if (!line.empty() || out.empty()) out.push_back(line);
}

}  // namespace

std::vector<std::wstring> WrapTextLines(const std::wstring& text, int width,
                                        const std::function<int(const std::wstring&)>& measure) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find(L'\n', start);
        std::wstring para = text.substr(start, nl == std::wstring::npos ? std::wstring::npos : nl - start);
        if (!para.empty() && para.back() == L'\r') para.pop_back();
        std::vector<std::wstring> part;
        WrapParagraph(para, width, measure, part);
        lines.insert(lines.end(), part.begin(), part.end());
        if (nl == std::wstring::npos) break;
        start = nl + 1;
    }
    return lines;
}
