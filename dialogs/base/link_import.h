#pragma once
// Share links typed into the link popup and the batch dialog: the whole
// text is converted (no length limit) and parsed; the batch splits at
// new lines, spaces, commas and bars and reports the pieces it could not
// read instead of skipping them silently.

#include <memory>
#include <string>
#include <vector>

#include "dialogs/base/message_id.h"
#include "nodes/node_info.h"

// The popup's parse step: the node of the trimmed text, or the message
// (empty entry, unreadable link).
struct LinkParseResult {
    DialogMessage message;
    std::unique_ptr<CNodeInfo> node;
};
LinkParseResult ParseLinkText(const std::wstring& text);

// The batch text's pieces: separators become new lines, empty pieces go.
std::vector<std::string> SplitBatchLinks(const std::wstring& text);

// The most characters of an unread piece a message shows.
inline constexpr size_t kMaxShownPieceChars = 100;

struct BatchAddResult {
    // The empty-entry message (the dialog stays open), or after adding what
    // parsed the count of unread pieces with the first of them.
    DialogMessage message;
    bool finished = false;  // the dialog ends with OK
    int added = 0;
    int unread = 0;
};
// Adds every piece that parses to the node list.
BatchAddResult BatchAddLinks(const std::wstring& text);
