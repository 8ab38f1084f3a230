#include "dialogs/base/events_core.h"

#include "foundation/message_box.h"
#include "foundation/string_util.h"
#include "foundation/translate.h"

std::vector<EventRecord> CDialogEventsMgrCore::Rows() {
    return CEventMgr::GetInstance()->GetEvents();
}

std::wstring CDialogEventsMgrCore::TrimParameter(const std::wstring& typed) {
    std::wstring text = typed;
    TrimStringW(text, L" \t\r\n\v\f");
    return text;
}

const char* CDialogEventsMgrCore::CheckParameter(const std::wstring& parameter) {
    for (wchar_t c : parameter) {
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0))
            return "The action parameter cannot contain a line break or another control character.";
    }
    if (parameter.find(L'/') != std::wstring::npos)
        return "The action parameter is the file name of a program and cannot contain \"/\".";
    return nullptr;
}

void CDialogEventsMgrCore::SaveFailed() {
    AppMessageBox(Translate("The events could not be saved to event.ini; the change was undone."), MB_OK);
}

int CDialogEventsMgrCore::Add(int eventTypeIndex, int actionTypeIndex, const std::wstring& typed) {
    std::wstring parameter = TrimParameter(typed);
    if (parameter.empty() || eventTypeIndex < 0 || actionTypeIndex < 0) return 0;
    if (const char* refusal = CheckParameter(parameter)) {
        AppMessageBox(Translate(refusal), MB_OK);
        return -1;
    }
    CEventMgr* events = CEventMgr::GetInstance();
    EventRecord record{eventTypeIndex, actionTypeIndex, parameter};
    if (events->Exists(record)) return 1;
    events->AddEvent(record);
    if (!events->Save()) {
        events->RemoveEvent(record);
        SaveFailed();
        return -1;
    }
    return 1;
}

int CDialogEventsMgrCore::Delete(const EventRecord* row) {
    if (row == nullptr) return 0;
    CEventMgr* events = CEventMgr::GetInstance();
    int index = events->RemoveEvent(*row);
    if (index < 0) return 1;  // already gone
    if (!events->Save()) {
        events->RestoreEvent(index, *row);
        SaveFailed();
        return -1;
    }
    return 1;
}
