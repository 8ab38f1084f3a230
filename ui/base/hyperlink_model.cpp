#include "ui/base/hyperlink_model.h"

#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "platform/open_url.h"

HyperLinkModel::HyperLinkModel()
    : style_(kLinkHoverColour | kLinkAutoSize | kLinkFocusOnClick),
      open_([](const std::string& u) { return OpenUrl(u); }) {}

void HyperLinkModel::SetColours(COLORREF link, COLORREF active, COLORREF visited, int64_t hover) {
    colours_.link = link;
    colours_.active = active;
    colours_.visited = visited;
    colours_.hover = hover == -1 ? GetSysColor(COLOR_HIGHLIGHT) : static_cast<COLORREF>(hover);
}

int HyperLinkModel::FollowLink() {
    int result = 33;
    if (notify_) {
        notify_(url_, 5);
    } else {
        result = open_ ? open_(WideToUtf8String(url_)) : 2;
        if (result <= 32) {
            if (beep_) beep_();
            ShowMessageBox(L"Can not open link:\n\n" + LinkErrorText(result), kMessageBoxCaption,
                           MB_OK | MB_ICONWARNING);
            return result;
        }
    }
    visited = true;
    return result;
}

std::wstring LinkErrorText(int code) {
    switch (code) {
        case 0:
            return L"操作系统内存或资源不够.";
        case 2:
            return L"指定文件找不到.";
        case 3:
            return L"指定路径找不到.";
        case 5:
            return L"操作系统不让访问指定文件.";
        case 8:
            return L"内存不够.";
        case 11:
            return L"这个 .EXE 文件非法\n(不是-Win32 .EXE 或 .EXE 镜像错误).";
        case 26:
            return L"发生共享侵犯. ";
        case 27:
            return L"联系文件名不完全或非法.";
        case 28:
            return L"DDE 引用不能完成:\n要求时间超出.";
        case 29:
            return L"DDE 引用失败.";
        case 30:
            return L"DDE 引用不能完成:\n其他 DDE 引用正在进行.";
        case 31:
            return L"指定文件扩展名没有应用程序关联.";
        case 32:
            return L"指定动态链接库找不到.";
        default:
            return L"发生未知错误 (" + std::to_wstring(code) + L") .";
    }
}
