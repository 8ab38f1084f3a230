#include "dialogs/base/about_core.h"

#include <cstdio>

#include "nodes/edition/vantor_authorization.h"
#include "proxy/proxy_service.h"

std::string AboutBuildText(const char* time, const char* date, int port) {
    char text[101];
    std::snprintf(text, sizeof text, "%s %s.%d", time ? time : "", date ? date : "", port);
    return text;
}

std::string AboutBuildText() {
    return AboutBuildText(__TIME__, __DATE__, GetLocalProxyPort());
}

std::vector<AboutLink> AboutLinks() {
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    std::vector<AboutLink> links = {
        {1015, edition->GetWebsiteUrl(), edition->GetWebsiteUrl(), false},
        {1047, edition->GetGooglePlusUrl(), L"Google+", false},
        {1048, edition->GetTwitterUrl(), L"Twitter", false},
        {1054, edition->GetTelegramGroupUrl(), L"Telegram group", false},
        {1055, edition->GetTelegramChannelUrl(), L"Telegram channel", false},
    };
    for (AboutLink& link : links) link.shown = !link.url.empty();
    return links;
}

std::wstring JoinLogLines(const std::vector<std::wstring>& lines) {
    std::wstring text;
    size_t size = 0;
    for (const std::wstring& line : lines) size += line.size() + 1;
    text.reserve(size);
    for (const std::wstring& line : lines) {
        text += line;
        text += L'\n';
    }
    return text;
}
