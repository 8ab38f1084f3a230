#include "foundation/command_line_parser.h"

#include <fstream>
#include <iterator>

#include "foundation/string_util.h"
#include "foundation/text_convert.h"

bool CCommandLineParser::Parse() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Arguments are NUL-terminated; an empty argument is still one.
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t at; (at = all.find('\0', start)) != std::string::npos; start = at + 1)
        args.push_back(all.substr(start, at - start));
    if (start < all.size()) args.push_back(all.substr(start));
    return Parse(args);
}

bool CCommandLineParser::Parse(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; argv && i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return Parse(args);
}

bool CCommandLineParser::Parse(const std::vector<std::string>& args) {
    argumentCount_ = static_cast<int>(args.size());
    if (args.size() <= 1) return false;
    for (size_t i = 1; i < args.size(); ++i) {
        std::wstring arg = Utf8ToWideString(args[i]);
        if (arg.size() <= 2 || arg[0] != L'-') continue;
        std::wstring option = ToLowerW(std::wstring_view(arg).substr(1));
        if (ParseParam(option.c_str())) ++optionsTaken_;
    }
    return optionsTaken_ > 0;
}
