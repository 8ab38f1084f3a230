// The web page's testfun box: its text and the gate against stacked boxes.
#include "ui/base/script_box_gate.h"

#include <gtest/gtest.h>

namespace {

TEST(ScriptBoxGate, TextCutsEachValue) {
    EXPECT_EQ(ScriptBoxGate::Text(L"甲", L"42"), L"varStr1:甲,varStr2:42");
    EXPECT_EQ(ScriptBoxGate::Text(L"", L""), L"varStr1:,varStr2:");
    const std::wstring huge(5000, L'x');
    const std::wstring text = ScriptBoxGate::Text(huge, huge);
    EXPECT_EQ(text, L"varStr1:" + std::wstring(1000, L'x') + L",varStr2:" + std::wstring(1000, L'x'));
}

TEST(ScriptBoxGate, CallsWhileABoxIsOpenAreDropped) {
    ScriptBoxGate gate;
    EXPECT_TRUE(gate.TryOpen());
    EXPECT_FALSE(gate.TryOpen()) << "a second box while the first is open";
    gate.Close();
    EXPECT_TRUE(gate.TryOpen());
}

}  // namespace
