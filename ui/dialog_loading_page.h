#pragma once
// A small white panel with a centred animation above a line of text, laid
// over a page while it loads.

#include <wx/panel.h>

#include "ui/picture_ex.h"
#include "ui/xcolor_static.h"

class CDialogLoadingPage : public wxPanel {
public:
    static constexpr int kPictureId = 1001;
    static constexpr int kTextId = 1002;

    // The text defaults to "Page is loading, please wait...".
    CDialogLoadingPage(wxWindow* parent, int pictureId, const char* pictureType = "GIF",
                       const wxString& text = wxEmptyString);
    ~CDialogLoadingPage() override;

    bool Destroy() override;

    CPictureEx* picture() const { return picture_; }
    CXColorStatic* text() const { return text_; }

private:
    void PlaceControls();
    CPictureEx* picture_ = nullptr;
    CXColorStatic* text_ = nullptr;
};
