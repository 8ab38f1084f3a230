#include "ui/picture_ex.h"

#include <wx/dcbuffer.h>

#include "foundation/app_paths.h"
#include "platform/resources_by_id.h"
#include "ui/base/gif_parser.h"
#include "ui/native_window.h"
#include "ui/wx_draw.h"

CPictureEx::CPictureEx(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE),
      alive_(std::make_shared<std::atomic<bool>>(true)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CPictureEx::OnPaint, this);
    Bind(wxEVT_DESTROY, &CPictureEx::OnDestroy, this);
}

CPictureEx::~CPictureEx() {
    UnLoad();
    *alive_ = false;
}

bool CPictureEx::LoadResource(int id, const char* type, bool start) {
    std::string bytes;
    if (!LoadResourceBytes(GetAppDir(), type ? type : "", id, bytes)) {
        UnLoad();
        return false;
    }
    return Load(bytes, start);
}

bool CPictureEx::LoadBitmapResource(int id, bool start) {
    return LoadResource(id, "bitmap", start);
}

bool CPictureEx::Load(const std::string& bytes, bool start) {
    UnLoad();
    std::vector<AnimationFrame> frames;
    uint32_t background = ArgbOf(RGB(255, 255, 255));
    if (bytes.size() >= 3 && bytes.compare(0, 3, "GIF") == 0) {
        GifInfo info;
        if (ParseGif(bytes, info) != GifParse::kOk) return false;
        is_gif_ = true;
        picture_size_ = wxSize(info.width, info.height);
        if (info.has_background) background = info.background_argb;
        if (info.graphic_blocks == 1) {
            still_ = DecodePicture(bytes);
            if (!still_.IsOk()) return false;
        } else {
            for (const GifFrameInfo& f : info.frames) {
                Pixmap image = DecodePicture(BuildFrameGif(bytes, info, f));
                if (!image.IsOk()) continue;
                if (image.width() != f.width || image.height() != f.height) {
                    // Decoded at the size of the whole screen: keep the frame's own part.
                    Pixmap part(f.width, f.height, 0);
                    CopyPixels(part, 0, 0, image, f.left, f.top, f.width, f.height);
                    image = std::move(part);
                }
                AnimationFrame a;
                a.image = std::move(image);
                a.left = f.left;
                a.top = f.top;
                a.width = f.width;
                a.height = f.height;
                a.delay = f.delay;
                a.disposal = f.disposal;
                frames.push_back(std::move(a));
            }
            if (frames.empty()) return false;
        }
    } else {
        still_ = DecodePicture(bytes);
        if (!still_.IsOk()) return false;
        picture_size_ = wxSize(still_.width(), still_.height());
    }
    if (picture_size_.x <= 0 || picture_size_.y <= 0) return false;

    background_ = ColorRefOf(background);
    animation_.Reset(picture_size_.x, picture_size_.y, ArgbOf(GetSysColor(COLOR_MENU)), std::move(frames));
    animation_.SetBackground(background, false);
    Prepare();
    if (start) Draw();
    return true;
}

void CPictureEx::Prepare() {
    if (!has_paint_rect_) {
        SetSize(picture_size_);
        SetMinSize(picture_size_);
    }
    prepared_ = true;
}

void CPictureEx::Draw() {
    if (!prepared_) return;
    if (animation_.frameCount() > 1) {
        animation_.Start([this] { RequestRepaint(); });
        return;
    }
    {
        std::lock_guard lock(animation_.mutex());
        Pixmap& screen = animation_.screen();
        if (still_.IsOk()) CopyPixelsMasked(screen, 0, 0, still_, 0, 0, still_.width(), still_.height());
    }
    Refresh(false);
}

void CPictureEx::Stop() {
    animation_.Stop();
}

void CPictureEx::UnLoad() {
    Stop();
    animation_.Clear();
    still_ = {};
    is_gif_ = false;
    prepared_ = false;
    picture_size_ = wxSize();
    has_paint_rect_ = false;
    paint_rect_ = wxRect();
    background_ = RGB(255, 255, 255);
}

void CPictureEx::SetBkColor(COLORREF colour) {
    background_ = colour;
    if (prepared_) {
        animation_.SetBackground(ArgbOf(colour), true);
        Refresh(false);
    }
}

void CPictureEx::SetPaintRect(const wxRect& rect) {
    has_paint_rect_ = true;
    paint_rect_ = rect;
    Refresh(false);
}

void CPictureEx::RequestRepaint() {
    // Runs on the animation thread: queue one request at a time, never wait.
    if (repaint_pending_.exchange(true)) return;
    auto alive = alive_;
    CallAfter([this, alive] {
        if (!*alive) return;
        repaint_pending_ = false;
        Refresh(false);
    });
}

void CPictureEx::OnPaint(wxPaintEvent&) {
    if (!native_) {
        native_ = true;
        CallAfter([this] { EnsureNativeWindow(this); });
    }
    wxAutoBufferedPaintDC dc(this);
    ++paints_;
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    wxImage image;
    {
        std::lock_guard lock(animation_.mutex());
        image = ToWxImage(animation_.screen());
    }
    if (!image.IsOk()) return;
    if (has_paint_rect_ && paint_rect_.width > 0 && paint_rect_.height > 0)
        image.Rescale(paint_rect_.width, paint_rect_.height);
    dc.DrawBitmap(wxBitmap(image), 0, 0);
}

void CPictureEx::OnDestroy(wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == this) Stop();
    event.Skip();
}
