#pragma once
// The main window's dialog template 210, in pixels: control ids and their
// places before the first layout. The base and the account edition share it.

#include <map>

#include "ui/base/pixmap.h"

enum MainWindowControlId : int {
    kIdAddNode = 1017,
    kIdDeleteNode = 1145,
    kIdEditNode = 1024,
    kIdTestNode = 1142,
    kIdModesButton = 1018,
    kIdConnect = 1122,
    kIdDonate = 1127,
    kIdMenuButton = 1016,
    kIdExitButton = 1119,
    kIdProductLink = 1041,
    kIdUpdateLink = 1042,
    kIdWebPlace = 1130,
    kIdRowsFrame = 1168,
    kIdProxyLabel = 1167,
    kIdModeLabel = 1132,
    kIdTrafficPlace = 1022,
    kIdBusyPicture = 1046,
    kIdUdpWarning = 1064,
    kIdConnectedPicture = 1021,
    kIdDisconnectedPicture = 1148,
    kIdNodeCombo = 1124,
    kIdModeCombo = 1020,
    kIdStatusLine = 1071,
    // The account edition's.
    kIdAccountHome = 1198,
    kIdAccountCode = 1199,
    kIdAccountProfile = 1200,
    kIdAccountMenu = 1201,
    kIdAccountExit = 1202,
    kIdAccountLine1 = 1203,
    kIdAccountLine2 = 1204,
    // The panels made over the placeholders, by their templates' ids.
    kIdWebPanel = 131,
    kIdTrafficPanel = 133,
};

inline constexpr int kMainTemplateId = 210;
inline constexpr int kMainClientWidth = 460;
inline constexpr int kMainClientHeight = 464;

// Every control of the template at its place (client coordinates).
std::map<int, PixRect> MainTemplateRects();
