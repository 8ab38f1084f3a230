#pragma once
// What the about box and the action-log window show, apart from the windows.

#include <string>
#include <vector>

// The build time as the compiler gives it ("hh:mm:ss Mmm dd yyyy", the day
// right-aligned in two places) and the local SOCKS port: "%s.%d", at most
// 100 characters.
std::string AboutBuildText(const char* time, const char* date, int port);
// The same for this build and the running local proxy's port.
std::string AboutBuildText();

struct AboutLink {
    int id;               // the control
    std::wstring url;     // from the edition profile
    std::wstring tooltip; // the web site's address for the site, else a name
    bool shown;           // a link without a URL is hidden
};
// The web site (1015), Google+ (1047), Twitter (1048), the Telegram group
// (1054) and channel (1055), in that order.
std::vector<AboutLink> AboutLinks();

// The action log's lines as one text, each line ended by a line break.
std::wstring JoinLogLines(const std::vector<std::wstring>& lines);
