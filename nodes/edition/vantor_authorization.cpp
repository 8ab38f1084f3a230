#include "nodes/edition/vantor_authorization.h"

#include "foundation/text_convert.h"

CVantorAuthorization::CVantorAuthorization() : switches_{1, 1, 1, 1, 1, 1, 0} {}

void CVantorAuthorization::SetFeatureSwitches(uint8_t proxyModeManagement, uint8_t subscription,
                                              uint8_t loadRulesAtStart, uint8_t smartDnsConfig,
                                              uint8_t additionalRoute, uint8_t eventsManagement,
                                              uint8_t webPaneHidden) {
    switches_ = {proxyModeManagement, subscription,     loadRulesAtStart, smartDnsConfig,
                 additionalRoute,     eventsManagement, webPaneHidden};
}

std::wstring CVantorAuthorization::LinkText(Link position) const {
    return Utf8ToWideString(links_[position]);
}
