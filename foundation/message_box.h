#pragma once
// The one message box through which the program shows errors and asks
// questions. It goes through a replaceable sink: by default the text goes to
// stderr and to the program log, and the default button is answered; a window
// can install itself later, and tests install scripted answers.

#include <functional>
#include <string>

// Win32 message-box styles and button ids, as callers pass and read them.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_CANCELTRYCONTINUE = 0x6,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x0,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
    MB_DEFBUTTON4 = 0x300,
    MB_SYSTEMMODAL = 0x1000,
    MB_TASKMODAL = 0x2000,
    MB_SETFOREGROUND = 0x10000,
    MB_TOPMOST = 0x40000,
    MB_TYPEMASK = 0xF,
    MB_ICONMASK = 0xF0,
    MB_DEFMASK = 0xF00,
};

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDABORT = 3,
    IDRETRY = 4,
    IDIGNORE = 5,
    IDYES = 6,
    IDNO = 7,
    IDTRYAGAIN = 10,
    IDCONTINUE = 11,
};

// The caption of every box.
inline constexpr const wchar_t* kMessageBoxCaption = L"Cendrow";

// Shows the text and returns the id of the button pressed.
using MessageBoxSink =
    std::function<int(const std::wstring& text, const std::wstring& caption, unsigned style)>;

// Installs a sink (an empty one restores the default) and returns the previous one.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// The id of the button a box of this style has as its default.
int DefaultMessageBoxButton(unsigned style);

// Shows a box with its own caption through the sink; returns the button pressed.
int ShowMessageBox(const std::wstring& text, const std::wstring& caption, unsigned style);

// Shows a UTF-8 message (null shows an empty box) with the given style and
// returns the button pressed. Blocks until the sink answers; callable from any thread.
int AppMessageBox(const char* utf8Message, unsigned style);
