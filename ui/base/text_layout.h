#pragma once
// Breaking a text into lines at word boundaries for a given width, with the
// width of a piece measured by the caller (the window's font).

#include <functional>
#include <string>
#include <vector>

// Lines of at most `width` (a single word wider than that is broken between
// characters); explicit line breaks are kept.
std::vector<std::wstring> WrapTextLines(const std::wstring& text, int width,
                                        const std::function<int(const std::wstring&)>& measure);
