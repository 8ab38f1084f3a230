#include "app/event_mgr.h"

#include <algorithm>
#include <filesystem>

#include "app/process_names.h"
#include "foundation/ascii_case.h"
#include "foundation/ini.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/translate.h"

namespace {

const EventTypeRow kEventTypes[] = {
    {0, "Before Connect"}, {1, "After Connect"}, {2, "Before DisConnect"}, {3, "After DisConnect"}, {-1, nullptr}};
const EventTypeRow kActionTypes[] = {{0, "Terminate process"}, {1, "Notify Terminate process"}, {-1, nullptr}};

std::wstring RowText(const EventTypeRow* table, int id) {
    for (const EventTypeRow* r = table; r->id != -1; ++r)
        if (r->id == id) return Utf8ToWideString(Translate(r->text));
    return {};
}

int RowCount(const EventTypeRow* table) {
    int n = 0;
    while (table[n].id != -1) ++n;
    return n;
}

std::filesystem::path EventFile(const std::wstring& folder) {
    return std::filesystem::path(folder) / "config" / "event.ini";
}

std::wstring Key(const wchar_t* name, int n) {
    return std::wstring(name) + std::to_wstring(n);
}

}  // namespace

bool EventRecord::operator==(const EventRecord& other) const {
    return EventType == other.EventType && EventAction == other.EventAction && AsciiEqualsNoCase(param, other.param);
}

int CEventMgr::Load(const wchar_t* programFolder) {
    if (!programFolder) return 0;
    std::wstring folder = programFolder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        folder_ = folder;
    }
    CIni ini(EventFile(folder));
    for (int n = 1;; ++n) {
        std::wstring kt = Key(L"eventtype", n), ka = Key(L"actiontype", n), kp = Key(L"param", n);
        if (!ini.IsKeyExist(L"basic", kt.c_str()) || !ini.IsKeyExist(L"basic", ka.c_str()) ||
            !ini.IsKeyExist(L"basic", kp.c_str()))
            break;
        EventRecord r;
        r.EventType = ini.GetInt(L"basic", kt.c_str(), -1);
        r.EventAction = ini.GetInt(L"basic", ka.c_str(), -1);
        r.param = ini.GetString(L"basic", kp.c_str(), L"");
        if (r.EventType != -1 && r.EventAction != -1 && !r.param.empty()) AddEvent(r);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(events_.size());
}

int CEventMgr::Save() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder_.empty()) return 1;
    std::filesystem::path file = EventFile(folder_);
    if (events_.empty()) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        return ec ? 0 : 1;
    }
    std::vector<std::pair<std::wstring, std::wstring>> values;
    int n = 1;
    for (const EventRecord& r : events_) {
        values.emplace_back(Key(L"eventtype", n), std::to_wstring(r.EventType));
        values.emplace_back(Key(L"actiontype", n), std::to_wstring(r.EventAction));
        values.emplace_back(Key(L"param", n), r.param);
        ++n;
    }
    return CIni(file).WriteSectionFile(L"basic", values);
}

std::vector<EventRecord> CEventMgr::GetEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void CEventMgr::AddEvent(EventRecord record) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const EventRecord& r : events_)
        if (r == record) return;
    events_.push_back(std::move(record));
}

int CEventMgr::RemoveEvent(const EventRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (*it == record) {
            int index = static_cast<int>(it - events_.begin());
            events_.erase(it);
            return index;
        }
    }
    return -1;
}

void CEventMgr::RestoreEvent(int index, EventRecord record) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const EventRecord& r : events_)
        if (r == record) return;
    size_t at = index < 0 ? events_.size() : std::min(static_cast<size_t>(index), events_.size());
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(at), std::move(record));
}

int CEventMgr::Exists(const EventRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const EventRecord& r : events_)
        if (r == record) return 1;
    return 0;
}

int CEventMgr::FireEvent(int eventType) {
    // The walk goes over a copy: the events dialog may change the list
    // meanwhile, and an action's message box can hold the walk for long.
    std::vector<EventRecord> events = GetEvents();
    int result = 1;
    for (const EventRecord& r : events) {
        if (r.EventType != eventType) continue;
        if (r.EventAction == EventActionTerminate) {
            KillProcessesByExeName(r.param);
        } else if (r.EventAction == EventActionNotifyTerminate) {
            if (!FindProcessesByExeName(r.param).empty()) {
                std::string text;
                FormatString(text, Translate("Please close this process: %s"), WideToUtf8String(r.param).c_str());
                AppMessageBox(text.c_str(), MB_OK);
                result = 0;
            }
        }
    }
    return result;
}

std::wstring GetEventTypeText(int id) {
    return RowText(kEventTypes, id);
}
std::wstring GetActionTypeText(int id) {
    return RowText(kActionTypes, id);
}
const EventTypeRow* GetEventTypeTable() {
    return kEventTypes;
}
const EventTypeRow* GetActionTypeTable() {
    return kActionTypes;
}
int GetEventTypeCount() {
    return RowCount(kEventTypes);
}
int GetActionTypeCount() {
    return RowCount(kActionTypes);
}
