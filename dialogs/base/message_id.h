#pragma once
// Message ids that are looked up later, marked for the catalogue extractor
// (which knows N_ beside Translate) without translating them here. N_ is the
// usual gettext no-op macro, which wx defines the same way when it comes first.

#include <string>
#include <vector>

#if !defined(N_)
#define N_(s) (s)
#endif

// What a handler decided to say: the id (null: nothing to say) and the
// values for its %1, %2, ... placeholders.
struct DialogMessage {
    const char* id = nullptr;
    std::vector<std::string> args;

    explicit operator bool() const { return id != nullptr; }
    // The translation with the placeholders filled, in UTF-8.
    std::string Text() const;
};

// Shows the message in the program's box (OK button); nothing for an empty one.
void ShowDialogMessage(const DialogMessage& message);
