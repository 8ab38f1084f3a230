#include "dialogs/base/link_import.h"

#include "dialogs/base/node_form.h"
#include "foundation/text_convert.h"
#include "nodes/node_mgr.h"
#include "nodes/share_link.h"

namespace {

void ReplaceAllW(std::wstring& text, std::wstring_view from, std::wstring_view to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

LinkParseResult ParseLinkText(const std::wstring& typed) {
    LinkParseResult result;
    std::wstring text = TrimmedText(typed);
    if (text.empty()) {
        result.message = {N_("Please enter the proxy link( Support shadowsocks link )."), {}};
        return result;
    }
    ReplaceAllW(text, L"\r\n", L"\n");
    result.node = ParseShareLink(WideToUtf8String(text));
    if (!result.node) result.message = {N_("Can not resolve this link."), {}};
    return result;
}

std::vector<std::string> SplitBatchLinks(const std::wstring& typed) {
    // One pass over the UTF-8 text: every separator (and a line break's CR)
    // ends a piece; empty pieces go.
    const std::string text = WideToUtf8String(TrimmedText(typed));
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const char c = end ? '\n' : text[i];
        if (c != '\n' && c != '\r' && c != ' ' && c != ',' && c != '|') continue;
        if (i > start) out.emplace_back(text, start, i - start);
        start = i + 1;
    }
    return out;
}

BatchAddResult BatchAddLinks(const std::wstring& text) {
    BatchAddResult result;
    if (TrimmedText(text).empty()) {
        result.message = {N_("Input shadowsocks server link please."), {}};
        return result;
    }
    result.finished = true;
    std::string firstUnread;
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    for (std::string& piece : SplitBatchLinks(text)) {
        // Only the first unread piece is shown: copy until one fails.
        std::string copy = result.unread == 0 ? piece : std::string();
        if (mgr->AddNodeFromLink(std::move(piece))) {
            ++result.added;
        } else if (result.unread++ == 0) {
            firstUnread = std::move(copy);
        }
    }
    if (result.unread > 0) {
        std::wstring shown = Utf8ToWideString(firstUnread);
        if (shown.size() > kMaxShownPieceChars) shown = shown.substr(0, kMaxShownPieceChars) + L"...";
        result.message = {N_("%1 links were added. %2 pieces could not be read; the first: %3"),
                          {std::to_string(result.added), std::to_string(result.unread), WideToUtf8String(shown)}};
    }
    return result;
}
