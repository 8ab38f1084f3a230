#include "ui/base/script_box_gate.h"

std::wstring ScriptBoxGate::Text(const std::wstring& a, const std::wstring& b) {
    return L"varStr1:" + a.substr(0, kMaxValue) + L",varStr2:" + b.substr(0, kMaxValue);
}
