#pragma once
// The tray icon on the desktop: wxTaskBarIcon (a GtkStatusIcon embedded in
// the XEmbed tray). The menu click (GTK's popup-menu, on a right press) and
// the left double click reach the notification window as EVT_TRAY_NOTIFY:
// id = the callback message (2025), int = the icon id, extra long =
// WM_RBUTTONDOWN or WM_LBUTTONDBLCLK. The
// status icon embeds itself again when a tray host comes back.

#include <wx/event.h>

#include <memory>

#include "ui/base/tray_icon.h"

wxDECLARE_EVENT(EVT_TRAY_NOTIFY, wxCommandEvent);

std::unique_ptr<TrayBackend> MakeWxTrayBackend();
