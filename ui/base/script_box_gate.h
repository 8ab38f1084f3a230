#pragma once
// The web page's "testfun" box: the text it shows, with each value cut so
// that a page cannot fill the screen, and the gate that ignores calls while
// a box of the page is open.

#include <string>

class ScriptBoxGate {
public:
    static constexpr size_t kMaxValue = 1000;

    // "varStr1:<a>,varStr2:<b>", each value cut to kMaxValue characters.
    static std::wstring Text(const std::wstring& a, const std::wstring& b);

    // False while a box is open; otherwise marks it open.
    bool TryOpen() {
        if (open_) return false;
        open_ = true;
        return true;
    }
    void Close() { open_ = false; }
    bool IsOpen() const { return open_; }

private:
    bool open_ = false;
};
