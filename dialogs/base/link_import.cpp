#include "dialogs/base/link_import.h"

#include "dialogs/base/node_form.h"
#include "foundation/string_util.h"
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
    std::wstring text = TrimmedText(typed);
    ReplaceAllW(text, L"\r\n", L"\n");
    for (const wchar_t* separator : {L" ", L",", L"|", L"\r"}) ReplaceAllW(text, separator, L"\n");
    std::vector<std::wstring> pieces;
    SplitStringW(text, L"\n", pieces, false);
    std::vector<std::string> out;
    out.reserve(pieces.size());
    for (const std::wstring& piece : pieces) out.push_back(WideToUtf8String(piece));
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
