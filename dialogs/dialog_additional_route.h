#pragma once
// The additional-routes dialog (template 157): an address or host name, its
// action, Add; the list of routes and Delete. A name is looked up on a
// thread of its own while the inputs are disabled and the wait label shows;
// every change is saved at once. Closing during a lookup waits for it (the
// resolver's time-outs bound the wait) and drops its result.
//
// From the main window's "Additional route management" command:
//   CDialogAdditionalRouteMgr dlg(this); dlg.ShowModal();
// The routes take effect at the next connect; nothing is read back.

#include <memory>
#include <mutex>
#include <thread>

#include "dialogs/base/additional_route_form.h"
#include "ui/skin_dialog.h"

class CComboBoxPelmorText;
class CReportList;
class CSkinButton;
class CSkinEdit;
class wxStaticText;

enum AdditionalRouteControlId : int {
    kIdRouteAddress = 1003,
    kIdRouteAction = 1051,
    kIdRouteList = 1056,
    kIdRouteDelete = 1058,
    kIdRouteAdd = 1060,
    kIdRouteWait = 1061,
};

class CDialogAdditionalRouteMgr : public CSkinDialog, public CDialogAdditionalRouteMgrCore {
public:
    explicit CDialogAdditionalRouteMgr(wxWindow* parent);
    ~CDialogAdditionalRouteMgr() override;

    void OnAdd();
    void OnDelete();
    void FillList();
    bool IsLookupRunning() const { return busy_; }
    wxWindow* GetControl(int id) const { return FindWindow(id); }
    CReportList* GetList() const { return list_; }

private:
    // The lookup's end on the window's thread.
    void OnLookupDone(const char* message);
    void SetBusy(bool busy);
    void JoinLookup();

    struct Guard {
        std::mutex mutex;
        bool alive = true;
    };

    CComboBoxPelmorText* action_ = nullptr;
    CSkinButton* add_ = nullptr;
    CSkinEdit* address_ = nullptr;
    CReportList* list_ = nullptr;
    CSkinButton* delete_ = nullptr;
    wxStaticText* wait_ = nullptr;
    bool busy_ = false;
    std::thread lookup_;
    std::shared_ptr<Guard> guard_ = std::make_shared<Guard>();
};
