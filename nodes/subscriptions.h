#pragma once
// The subscription store: ShadowsocksR subscription addresses the user keeps,
// each with a name, an update frequency, default obfuscation parameters and an
// optional update proxy. Kept in "ssrsubscriptions.ini" in the program's
// config folder, section "basic", record n under numbered keys ("url1",
// "groupname1", ...), and written back whole after every change.
//
// Subscriptions are only stored and edited here; nothing downloads them.
// Every operation runs on the user-interface thread; the store has no lock.

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <string>

#include "nodes/node_info.h"

struct SubscriptionGroup {
    std::wstring groupName;
    std::wstring url;  // the record's key, compared without regard to case
    int64_t recentlyUpdated = 0;
    int32_t frequency = 1;  // 0 "Every time", 1 "1 day", 2 "2 days", 3 "3 days"
    std::wstring defaultObfsParams;
    // The node through which the address would be fetched.
    int32_t proxyType = NodeTypeSocks5;
    std::string proxyServer;
    uint16_t proxyPort = 0;
    std::string proxyUser;
    std::string proxyPassword;
    std::string proxyMethod;
    std::string proxyProtocol;
    std::string proxyObfs;
    std::string proxyObfsParam;
    std::string proxyProtocolParam;
};

using SubscriptionGroupList = std::list<std::unique_ptr<SubscriptionGroup>>;

class CSubscriptionStore {
public:
    // The file lies in "<programFolder>/config"; with no folder given, in the
    // program folder of the running program, looked up at each load and save.
    explicit CSubscriptionStore(std::filesystem::path programFolder = {});

    // Appends the file's records, up to the first number without both
    // "groupname<n>" and "url<n>"; records with an empty or repeated URL are
    // dropped. A file that exists but cannot be read loads nothing and is
    // then never written over. When the file holds records the list did not
    // take (numbered keys past the end, dropped records), the log says so
    // and the first rewrite keeps the file aside first.
    void Load();
    // Replaces the file atomically by the whole list, or deletes it when the
    // list is empty. 0, with the file untouched, when the write fails or the
    // file holds records that were never loaded (a failed or missing load).
    // A loaded file with records the list lacks is copied to
    // "ssrsubscriptions.ini.bak" first, unless that exists already; when the
    // copy fails nothing is written.
    int Save();
    // Save, when the list changed since it was loaded or saved; else 1.
    int SaveIfChanged();

    const SubscriptionGroupList& GetGroups() const { return groups_; }
    int HasUrl(const std::wstring& url) const;
    // Appends a record unless one has this URL (1, nothing changes), then
    // saves. The node, when given, becomes the update proxy; it is copied,
    // not kept. Add, Edit and Remove return 0 and undo the change in the
    // list when the save fails, so that list and file still agree.
    int Add(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
            const std::wstring& defaultObfsParams);
    // Sets frequency, parameters and update proxy (cleared when the node is
    // null) of the record with this URL, then saves; 0 when there is none or
    // the save failed.
    int Edit(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
             const std::wstring& defaultObfsParams);
    // Drops the record with this URL, then saves; 0 when there is none or the
    // save failed.
    int Remove(const std::wstring& url);

    std::filesystem::path GetFilePath() const;
    std::filesystem::path GetBackupPath() const;

private:
    SubscriptionGroupList::iterator FindUrl(const std::wstring& url);
    bool KeepAsideBeforeRewrite(const std::filesystem::path& file);

    std::filesystem::path programFolder_;
    SubscriptionGroupList groups_;
    // The file whose records the list holds (loaded or saved); empty while none.
    std::filesystem::path syncedFile_;
    bool changed_ = false;
    bool needsBackup_ = false;
};

// The program's one store, in the program folder. SaveSubscriptions writes
// only a changed list.
CSubscriptionStore& ProgramSubscriptionStore();
void LoadSubscriptions();
int SaveSubscriptions();
const SubscriptionGroupList& GetSubscriptionGroups();
int HasSubscriptionUrl(const std::wstring& url);
int AddSubscriptionGroup(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                         const std::wstring& defaultObfsParams);
int EditSubscriptionGroup(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                          const std::wstring& defaultObfsParams);
int RemoveSubscriptionGroup(const std::wstring& url);
