#pragma once
// The link popup of the Shadowsocks node dialog: a caption-less modeless
// window with one edit and OK and Cancel. OK parses the link and fills the
// owner's form (nothing is added to the node list); Cancel hides it.

#include <wx/dialog.h>

class CNodeInfo;
class CSkinButton;
class CSkinEdit;

enum AddFromLinkControlId : int {
    kIdLinkEdit = 1032,
};

// The dialog whose form a parsed link fills.
class CLinkFormOwner {
public:
    virtual ~CLinkFormOwner() = default;
    virtual void FillFromNode(CNodeInfo* node) = 0;
};

class CDialogAddFromLink : public wxDialog {
public:
    // Created hidden, owned by `parent`.
    CDialogAddFromLink(wxWindow* parent, CLinkFormOwner* owner);

    // Empties the edit and gives it the focus.
    void ClearAndFocus();
    // The parse step of OK: a box for an empty or unreadable link (the popup
    // stays), else the owner's form is filled and the popup hidden.
    void OnOK();
    CSkinEdit* GetEdit() const { return edit_; }

private:
    CLinkFormOwner* owner_;
    CSkinEdit* edit_ = nullptr;
    CSkinButton* ok_ = nullptr;
    CSkinButton* cancel_ = nullptr;
};
