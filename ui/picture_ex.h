#pragma once
// A picture from the program's resources: an animated GIF played on a
// thread of its own, or a still picture (a one-image GIF, a bitmap, or any
// picture format wx reads). The animation composes frames into an off-screen
// picture under its own lock; the control copies that picture when it
// paints, and only the control is repainted while it plays.

#include <wx/control.h>

#include <atomic>
#include <memory>
#include <string>

#include "ui/base/colors.h"
#include "ui/base/picture_animation.h"

class CPictureEx : public wxControl {
public:
    CPictureEx(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize, long style = 0);
    ~CPictureEx() override;

    // Loads picture bytes; starts showing them when `start` is set. False
    // when they are not a picture (or a GIF with no image).
    bool Load(const std::string& bytes, bool start);
    // By resource type ("GIF", "BITMAP", ...) and numeric id.
    bool LoadResource(int id, const char* type, bool start);
    // A bitmap resource.
    bool LoadBitmapResource(int id, bool start);
    // Shows a loaded picture: starts the animation of a GIF with several
    // frames, else paints the still picture.
    void Draw();
    // Stops the animation and joins its thread.
    void Stop();
    void UnLoad();
    void SetBkColor(COLORREF colour);
    // Stretches the picture to this rectangle's size (at the control's
    // origin) and keeps the control's size.
    void SetPaintRect(const wxRect& rect);

    bool IsPlaying() const { return animation_.IsPlaying(); }
    size_t FrameCount() const { return animation_.frameCount(); }
    wxSize GetPictureSize() const { return picture_size_; }
    // Paints of this control so far.
    int PaintCount() const { return paints_; }

protected:
    wxSize DoGetBestSize() const override { return picture_size_; }

private:
    void Prepare();
    void RequestRepaint();
    void OnPaint(wxPaintEvent& event);
    void OnDestroy(wxWindowDestroyEvent& event);

    PictureAnimation animation_;
    Pixmap still_;  // the single picture, for non-animated content
    bool is_gif_ = false;
    bool prepared_ = false;
    wxSize picture_size_;
    bool has_paint_rect_ = false;
    wxRect paint_rect_;
    COLORREF background_ = RGB(255, 255, 255);
    std::atomic<bool> repaint_pending_{false};
    int paints_ = 0;
    bool native_ = false;
    // Shared with queued repaint requests, which check it before touching
    // the control.
    std::shared_ptr<std::atomic<bool>> alive_;
};
