#include "app/tap_command_line_parser.h"

int CTapCommandLineParser::ParseParam(const wchar_t*) {
    return 0;
}
