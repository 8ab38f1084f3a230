#pragma once
// Connect and disconnect events: actions on other processes tied to four
// moments (before and after connect, before and after disconnect), kept in
// config/event.ini (section "basic": eventtype<n>, actiontype<n>, param<n>
// for n = 1, 2, ...).

#include <mutex>
#include <string>
#include <vector>

#include "foundation/singleton.h"

enum EventType : int {
    EventBeforeConnect = 0,
    EventAfterConnect = 1,
    EventBeforeDisconnect = 2,
    EventAfterDisconnect = 3,
};

enum EventAction : int {
    EventActionTerminate = 0,        // ends every process of that executable name
    EventActionNotifyTerminate = 1,  // asks the user to close them
};

struct EventRecord {
    int EventType = -1;
    int EventAction = -1;
    std::wstring param;  // an executable file name
    // Same type and action, parameter equal ignoring case.
    bool operator==(const EventRecord& other) const;
};

struct EventTypeRow {
    int id;
    const char* text;
};

class CEventMgr : public CSingleton<CEventMgr> {
public:
    // Keeps the folder and adds the file's events (duplicates dropped);
    // returns how many are held. A null folder returns 0 and changes nothing.
    int Load(const wchar_t* programFolder);
    // Rewrites the file whole; an empty list leaves no file. 1 when the
    // file now holds the list (or no folder is set), 0 when it could not be
    // written or removed.
    int Save();
    // A copy of the list.
    std::vector<EventRecord> GetEvents();
    void AddEvent(EventRecord record);
    // Erases the first equal record; its position, or -1 when none is equal.
    int RemoveEvent(const EventRecord& record);
    // Puts a record back at `index` (clamped to the list), unless an equal
    // one exists: undoes a removal that could not be saved.
    void RestoreEvent(int index, EventRecord record);
    int Exists(const EventRecord& record);
    // Runs every event of the type in list order; FALSE when an action
    // refused (a notify whose process runs), TRUE otherwise.
    int FireEvent(int eventType);

private:
    friend class CSingleton<CEventMgr>;
    CEventMgr() = default;
    ~CEventMgr() override = default;

    std::mutex mutex_;
    std::wstring folder_;
    std::vector<EventRecord> events_;
};

std::wstring GetEventTypeText(int id);
std::wstring GetActionTypeText(int id);
const EventTypeRow* GetEventTypeTable();
const EventTypeRow* GetActionTypeTable();
int GetEventTypeCount();
int GetActionTypeCount();
