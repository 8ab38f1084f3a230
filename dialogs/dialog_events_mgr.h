#pragma once
// The events dialog: lists the connect and disconnect events and adds and
// deletes them; every change is saved to event.ini at once (the logic is
// CDialogEventsMgrCore's). Enter does not close it.
// Run modally from the main window's events command:
//   CDialogEventsMgr dlg(mainWindow); dlg.ShowModal();

#include <vector>

#include "app/event_mgr.h"
#include "ui/skin_dialog.h"

class CComboBoxPelmorText;
class CReportList;
class CSkinButton;
class CSkinEdit;
class wxStaticBox;

enum EventsControlId : int {
    kIdEventsDelete = 1058,
    kIdEventsParam = 1114,
    kIdEventsLabelAction = 1186,
    kIdEventsActionType = 1187,
    kIdEventsGroup = 1188,
    kIdEventsLabelEvent = 1189,
    kIdEventsEventType = 1190,
    kIdEventsLabelParam = 1191,
    kIdEventsAdd = 1192,
    kIdEventsList = 1193,
};

class CDialogEventsMgr : public CSkinDialog {
public:
    explicit CDialogEventsMgr(wxWindow* parent);

    void OnAdd();
    void OnDelete();
    // The control of a template id, or null.
    wxWindow* GetControl(int id) const;
    // The records the rows show, in row order (copies).
    const std::vector<EventRecord>& GetRows() const { return rows_; }

private:
    void FillList();

    CComboBoxPelmorText* eventType_ = nullptr;
    CComboBoxPelmorText* actionType_ = nullptr;
    CSkinEdit* param_ = nullptr;
    CReportList* list_ = nullptr;
    CSkinButton* delete_ = nullptr;
    CSkinButton* add_ = nullptr;
    wxStaticBox* group_ = nullptr;
    wxWindow* labels_[3] = {};
    std::vector<EventRecord> rows_;
};
