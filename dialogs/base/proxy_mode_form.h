#pragma once
// What the two proxy-mode windows decide, apart from the windows: the list
// rows of the management window and which rows may be edited or deleted;
// the editor's first field values, its line counter, the file name a mode
// gets, and its save. Refusals go through AppMessageBox and save nothing.

#include <string>
#include <vector>

class CProxyMode;

// The editor's fields as the window reads them. A row of -1 is no selection.
struct ProxyModeForm {
    std::wstring nameEn;
    std::wstring nameCn;
    std::wstring remarks;
    std::wstring rules;
    int actionRow = 0;  // 0 "Direct", 1 "Proxify"
    int dnsRow = 0;     // a ModeDnsPolicy
};

// The file name of a mode: the English name with every character a file
// name cannot hold made "-", then ".rules" unless it already ends so.
std::wstring ModeFileName(const std::wstring& nameEn);
// Null for a file name the rules folder can take, else the translated message: a
// name starting with "." would be hidden and one over 255 bytes cannot exist.
const char* CheckModeFileName(const std::wstring& fileName);
// "[N] lines", translated.
std::wstring LineCounterText(int lines);
// The action row of a mode: 0 "Direct" when it routes everything but its
// rules through the tunnel, else 1 "Proxify".
int ActionRowOfMode(const CProxyMode& mode);
// The route-all and rules-go-direct flags of an action row.
void ActionRowFlags(int row, int* routeAll, int* rulesDirect);

class CDialogAddNewProxyModeCore {
public:
    // `editMode` null: a new mode.
    explicit CDialogAddNewProxyModeCore(CProxyMode* editMode) : editMode_(editMode) {}

    // The fields the editor opens with.
    ProxyModeForm InitialForm() const;
    // Leaving the English name of a new mode: the box when its file exists.
    void CheckNameOnLeave(const std::wstring& nameEn) const;
    // The save: 1 when the mode was written; else its box was shown and
    // neither the list nor any file changed. An edited mode is replaced only
    // once its new file is written.
    int Save(const ProxyModeForm& form);
    CProxyMode* GetEditMode() const { return editMode_; }

private:
    int Refuse(const std::string& message) const;
    bool NamesTaken(const std::wstring& nameEn, const std::wstring& nameCn) const;

    CProxyMode* editMode_;
};

struct ProxyModeRow {
    std::wstring name;  // Chinese in a Chinese user interface
    std::wstring remarks;
    CProxyMode* mode = nullptr;
};

class CDialogProxyModeManagementCore {
public:
    // Every mode of the manager in list order.
    static std::vector<ProxyModeRow> Rows();
    // Edit and Delete act on a mode only when it is no built-in one.
    static bool CanChange(const CProxyMode* mode);
    // Deletes the mode (and its file); 1 when it was listed.
    int Delete(CProxyMode* mode);
    void MarkChanged() { changed_ = 1; }
    int IsChanged() const { return changed_; }

private:
    int changed_ = 0;
};
