#pragma once
// What the subscription dialogs and the proxy chooser decide: the list's
// row texts, the URL check, the chosen update proxy, and the store calls of
// Add, Delete and Edit. A change the store cannot save is reported, never
// shown as done.

#include <string>
#include <vector>

#include "dialogs/base/message_id.h"
#include "nodes/subscriptions.h"

// 0 "Every time", 1 "1 day", 2 "2 days", 3 "3 days", translated; any other
// value the text of 1.
inline constexpr int kFrequencyCount = 4;
std::string GetFrequencyText(int frequency);

// Group name, URL, frequency, recently updated ("-" for none), default
// OBFS parameters, update proxy ("server:port", empty for none).
std::vector<std::wstring> SubscriptionRowTexts(const SubscriptionGroup& group);
bool SubscriptionHasProxy(const SubscriptionGroup& group);

// An http or https address with a host, without white space or control
// characters; else the message.
DialogMessage CheckSubscriptionUrl(const std::wstring& url);

// "host:port" of a node or of a server and port.
std::wstring ProxyAddressText(const std::string& server, int port);

// The chooser's row: "[label] group -> remarks", else "[-] -:-" when node
// addresses are hidden, else "[label] group -> host:port".
std::wstring ProxyChooserRowText(const CNodeInfo& node, bool hideAddresses);

// The edit dialog's state, built from the subscription's values.
class CEditSubscriptionCore {
public:
    explicit CEditSubscriptionCore(const SubscriptionGroup& group);

    // The URL line: the URL, or "[name] URL" when the group has a name.
    std::wstring UrlText() const;
    bool HasProxy() const { return !server_.empty() && port_ != 0; }
    std::wstring ProxyText() const { return HasProxy() ? ProxyAddressText(server_, port_) : std::wstring(); }

    void OnFrequencyChosen() { changed_ = 1; }
    // Changed when the trimmed text differs from the stored parameters.
    void OnParamsEdited(const std::wstring& text);
    void OnProxyChosen(CNodeInfo* node);
    void OnRemoveProxy();
    // Save: the frequency row (1 when none) and the trimmed parameters.
    void OnSave(int frequencyRow, const std::wstring& params);

    int IsChanged() const { return changed_; }
    int GetFrequency() const { return frequency_; }
    const std::wstring& GetObfsParams() const { return params_; }
    CNodeInfo* GetChosenProxy() const { return chosen_; }
    const std::string& GetProxyServer() const { return server_; }
    uint16_t GetProxyPort() const { return port_; }

private:
    std::wstring url_;
    std::wstring name_;
    std::wstring params_;
    int frequency_ = 1;
    std::string server_;
    uint16_t port_ = 0;
    int changed_ = 0;
    CNodeInfo* chosen_ = nullptr;
};

// The list dialog's state over a store (the program's in the program).
class CSubscriptionsCore {
public:
    explicit CSubscriptionsCore(CSubscriptionStore& store) : store_(store) {}

    // What a handler did: a message to show, and whether the list must be
    // refilled (the change was made).
    struct Outcome {
        DialogMessage message;
        bool done = false;
    };
    // Empty URL: nothing. The frequency row (1 when none), the parameters trimmed.
    Outcome Add(const std::wstring& url, int frequencyRow, const std::wstring& params);
    Outcome Remove(const std::wstring& url);
    // The edit dialog ended with OK and a change: the picked node, else the
    // group's kept update proxy, else none.
    Outcome ApplyEdit(const SubscriptionGroup& group, const CEditSubscriptionCore& edit);

    void ChooseProxy(CNodeInfo* node) { chosen_ = node; }
    void RemoveProxy() { chosen_ = nullptr; }
    CNodeInfo* GetChosenProxy() const { return chosen_; }
    int IsChanged() const { return changed_; }
    const SubscriptionGroupList& Groups() const { return store_.GetGroups(); }

private:
    CSubscriptionStore& store_;
    CNodeInfo* chosen_ = nullptr;
    int changed_ = 0;
};
