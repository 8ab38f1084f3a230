#pragma once
// What the events dialog decides, apart from the window: the rows it shows
// (copies of the records, since the connect worker may walk the list
// meanwhile), the checks of Add, and the saving of every change. A change
// that cannot be saved is undone in memory, so that the list and event.ini
// agree; refusals and failures are told through AppMessageBox.

#include <string>
#include <vector>

#include "app/event_mgr.h"

class CDialogEventsMgrCore {
public:
    // The records of CEventMgr in list order.
    static std::vector<EventRecord> Rows();

    // Add with the chosen table rows (-1: no selection) and the parameter
    // as typed. 0 when nothing happens (no selection, or an empty
    // parameter once trimmed); 1 when the event is held and saved (a
    // duplicate is silently not added twice); -1 when the parameter is
    // refused or the change could not be saved (a box said why).
    static int Add(int eventTypeIndex, int actionTypeIndex, const std::wstring& typed);
    // Delete of a row's record: 0 without a row, 1 done and saved, -1 when
    // it could not be saved (the record is back in its place).
    static int Delete(const EventRecord* row);

    // The message id that refuses a trimmed, non-empty parameter, or null:
    // a control character would break event.ini's line, and a "/" can never
    // be part of an executable's name.
    static const char* CheckParameter(const std::wstring& parameter);
    // White space off both ends.
    static std::wstring TrimParameter(const std::wstring& typed);

private:
    static void SaveFailed();
};
