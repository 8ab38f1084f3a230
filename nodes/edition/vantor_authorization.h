#pragma once
// The edition profile: which web links the windows offer and which features
// they show. Its values are the edition's constants; the start-up loading
// panel sets the switches, the version-check template and the service base
// once, before any window reads them.
//
// This edition ships no web links: every link is empty until configured, and
// nothing fetches the version-check template or uses the base URL.

#include <array>
#include <cstdint>
#include <string>

#include "foundation/singleton.h"

class CVantorAuthorization : public CSingleton<CVantorAuthorization> {
public:
    // Positions of the link table.
    enum Link {
        kWebsite = 0,
        kVersionCheck = 1,
        kClientPage = 2,
        kClientPageCopy = 3,
        kHelp = 4,
        kDonate = 5,
        kDonateEnglish = 6,
        kContact = 7,
        kForum = 8,
        kLogin = 9,
        kContactMail = 10,
        kPlainName = 11,
        kTelegramGroup = 12,
        kTelegramChannel = 13,
        kMessagingExtra = 14,
        kGooglePlus = 15,
        kTwitter = 16,
        kLinkCount = 17,
    };
    // Order of the feature switches.
    enum Switch {
        kProxyModeManagement = 0,
        kSubscription = 1,
        kLoadRulesAtStart = 2,
        kSmartDnsConfig = 3,
        kAdditionalRoute = 4,
        kEventsManagement = 5,
        kWebPaneHidden = 6,
        kSwitchCount = 7,
    };

    std::wstring GetWebsiteUrl() const { return LinkText(kWebsite); }
    std::wstring GetClientPageUrl() const { return LinkText(kClientPage); }
    std::wstring GetDonateUrl() const { return LinkText(kDonate); }
    std::wstring GetDonateUrlEnglish() const { return LinkText(kDonateEnglish); }
    std::wstring GetForumUrl() const { return LinkText(kForum); }
    std::wstring GetTelegramGroupUrl() const { return LinkText(kTelegramGroup); }
    std::wstring GetTelegramChannelUrl() const { return LinkText(kTelegramChannel); }
    std::wstring GetGooglePlusUrl() const { return LinkText(kGooglePlus); }
    std::wstring GetTwitterUrl() const { return LinkText(kTwitter); }

    uint8_t IsProxyModeManagementEnabled() const { return switches_[kProxyModeManagement]; }
    uint8_t IsSubscriptionEnabled() const { return switches_[kSubscription]; }
    uint8_t IsLoadRulesAtStartEnabled() const { return switches_[kLoadRulesAtStart]; }
    uint8_t IsSmartDnsConfigEnabled() const { return switches_[kSmartDnsConfig]; }
    uint8_t IsAdditionalRouteEnabled() const { return switches_[kAdditionalRoute]; }
    uint8_t IsEventsManagementEnabled() const { return switches_[kEventsManagement]; }
    uint8_t IsWebPaneHidden() const { return switches_[kWebPaneHidden]; }

    // All seven at once, in switch order.
    void SetFeatureSwitches(uint8_t proxyModeManagement, uint8_t subscription, uint8_t loadRulesAtStart,
                            uint8_t smartDnsConfig, uint8_t additionalRoute, uint8_t eventsManagement,
                            uint8_t webPaneHidden);
    void SetVersionCheckUrl(const std::string& url) { links_[kVersionCheck] = url; }
    // A link of the table (UTF-8), for an edition that ships links; like the
    // other setters, before any window reads them.
    void SetLink(Link position, const std::string& url) {
        if (position >= 0 && position < kLinkCount) links_[position] = url;
    }
    void SetServiceBaseUrl(const std::string& url) { serviceBaseUrl_ = url; }

    // The narrow (UTF-8) texts as stored.
    const std::string& GetLink(Link position) const { return links_[position]; }
    const std::string& GetServiceBaseUrl() const { return serviceBaseUrl_; }

private:
    friend class CSingleton<CVantorAuthorization>;
    CVantorAuthorization();

    std::wstring LinkText(Link position) const;

    std::array<std::string, kLinkCount> links_;
    std::array<uint8_t, kSwitchCount> switches_;
    std::string serviceBaseUrl_;
};
