#include "nodes/edition/vantor_authorization.h"

#include <gtest/gtest.h>

namespace {

class EditionTest : public ::testing::Test {
protected:
    void SetUp() override { profile = CVantorAuthorization::GetInstance(); }
    void TearDown() override { CVantorAuthorization::ReleaseInstance(); }
    CVantorAuthorization* profile = nullptr;
};

TEST_F(EditionTest, DefaultsOfAFreshProfile) {
    EXPECT_EQ(profile->IsProxyModeManagementEnabled(), 1);
    EXPECT_EQ(profile->IsSubscriptionEnabled(), 1);
    EXPECT_EQ(profile->IsLoadRulesAtStartEnabled(), 1);
    EXPECT_EQ(profile->IsSmartDnsConfigEnabled(), 1);
    EXPECT_EQ(profile->IsAdditionalRouteEnabled(), 1);
    EXPECT_EQ(profile->IsEventsManagementEnabled(), 1);
    EXPECT_EQ(profile->IsWebPaneHidden(), 0);
    // This edition ships no links.
    EXPECT_EQ(profile->GetWebsiteUrl(), L"");
    EXPECT_EQ(profile->GetClientPageUrl(), L"");
    EXPECT_EQ(profile->GetDonateUrl(), L"");
    EXPECT_EQ(profile->GetDonateUrlEnglish(), L"");
    EXPECT_EQ(profile->GetForumUrl(), L"");
    EXPECT_EQ(profile->GetTelegramGroupUrl(), L"");
    EXPECT_EQ(profile->GetTelegramChannelUrl(), L"");
    EXPECT_EQ(profile->GetGooglePlusUrl(), L"");
    EXPECT_EQ(profile->GetTwitterUrl(), L"");
    EXPECT_EQ(profile->GetServiceBaseUrl(), "");
    EXPECT_EQ(CVantorAuthorization::GetInstance(), profile);
}

TEST_F(EditionTest, SwitchesAreSetTogetherInOrder) {
    profile->SetFeatureSwitches(1, 1, 1, 1, 1, 1, 0);
    EXPECT_EQ(profile->IsWebPaneHidden(), 0);
    EXPECT_EQ(profile->IsEventsManagementEnabled(), 1);
    profile->SetFeatureSwitches(0, 1, 0, 1, 0, 1, 1);
    EXPECT_EQ(profile->IsProxyModeManagementEnabled(), 0);
    EXPECT_EQ(profile->IsSubscriptionEnabled(), 1);
    EXPECT_EQ(profile->IsLoadRulesAtStartEnabled(), 0);
    EXPECT_EQ(profile->IsSmartDnsConfigEnabled(), 1);
    EXPECT_EQ(profile->IsAdditionalRouteEnabled(), 0);
    EXPECT_EQ(profile->IsEventsManagementEnabled(), 1);
    EXPECT_EQ(profile->IsWebPaneHidden(), 1);
}

TEST_F(EditionTest, StartUpSettersReplaceTheirTexts) {
    profile->SetServiceBaseUrl("https://127.0.0.1:4433");
    profile->SetVersionCheckUrl(
        "https://h.example/newversion.php?action=version&key=k&softname=\xe5\xb0\x8f");
    EXPECT_EQ(profile->GetServiceBaseUrl(), "https://127.0.0.1:4433");
    EXPECT_EQ(profile->GetLink(CVantorAuthorization::kVersionCheck),
              "https://h.example/newversion.php?action=version&key=k&softname=\xe5\xb0\x8f");
    // No other link moves.
    EXPECT_EQ(profile->GetWebsiteUrl(), L"");
    EXPECT_EQ(profile->GetLink(CVantorAuthorization::kClientPage), "");
}

}  // namespace
