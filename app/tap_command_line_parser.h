#pragma once
// The program's own command-line options. None is recognised yet: every
// option is ignored and start-up goes on.

#include "foundation/command_line_parser.h"

class CTapCommandLineParser : public CCommandLineParser {
protected:
    int ParseParam(const wchar_t* option) override;
};
