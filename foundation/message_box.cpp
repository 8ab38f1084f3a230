#include "foundation/message_box.h"

#include <cstdio>
#include <iterator>
#include <mutex>

#include "foundation/program_log.h"
#include "foundation/text_convert.h"

namespace {

std::mutex g_sinkMutex;
MessageBoxSink g_sink;  // empty: the default

const char* Kind(unsigned style) {
    switch (style & MB_ICONMASK) {
        case MB_ICONERROR:
            return "error: ";
        case MB_ICONWARNING:
            return "warning: ";
        case MB_ICONQUESTION:
            return "question: ";
        default:
            return "";
    }
}

int DefaultSink(const std::wstring& text, const std::wstring& caption, unsigned style) {
    std::string line = WideToUtf8String(caption) + ": " + Kind(style) + WideToUtf8String(text);
    AppendToProgramLog(line);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return DefaultMessageBoxButton(style);
}

}  // namespace

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    std::lock_guard lock(g_sinkMutex);
    MessageBoxSink previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

int DefaultMessageBoxButton(unsigned style) {
    static const int kButtons[][3] = {
        {IDOK, 0, 0},                        // MB_OK
        {IDOK, IDCANCEL, 0},                 // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},        // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},             // MB_YESNOCANCEL
        {IDYES, IDNO, 0},                    // MB_YESNO
        {IDRETRY, IDCANCEL, 0},              // MB_RETRYCANCEL
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE},  // MB_CANCELTRYCONTINUE
    };
    unsigned type = style & MB_TYPEMASK;
    if (type >= std::size(kButtons)) type = MB_OK;
    unsigned index = (style & MB_DEFMASK) >> 8;
    // A default beyond the buttons there are falls back to the first, as Windows does.
    if (index >= 3 || kButtons[type][index] == 0) index = 0;
    return kButtons[type][index];
}

int ShowMessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
    MessageBoxSink sink;
    {
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    // Called without the lock: boxes from several threads may be open at once.
    return sink ? sink(text, caption, style) : DefaultSink(text, caption, style);
}

int AppMessageBox(const char* utf8Message, unsigned style) {
    return ShowMessageBox(Utf8ToWideString(utf8Message), kMessageBoxCaption, style);
}
