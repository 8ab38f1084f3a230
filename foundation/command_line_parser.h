#pragma once
// Base of the program's command-line parser: every argument after the program
// name that is longer than 2 characters and begins with '-' reaches ParseParam
// without that first '-' and lower-cased (ASCII), so "--HideIcon" arrives as
// "-hideicon".

#include <string>
#include <vector>

class CCommandLineParser {
public:
    CCommandLineParser() = default;
    virtual ~CCommandLineParser() = default;

    // Parses the process's own command line (/proc/self/cmdline).
    bool Parse();
    // Parses the given argument vector (argv[0] is the program); main passes its own.
    bool Parse(int argc, const char* const* argv);
    // Both return true when at least one option was taken over the parser's life.
    bool Parse(const std::vector<std::string>& args);

    // 0 asks the program to end after parsing.
    void SetContinue(int value) { continue_ = value; }
    int GetContinue() const { return continue_; }
    int GetOptionsTaken() const { return optionsTaken_; }
    int GetArgumentCount() const { return argumentCount_; }

protected:
    // Non-zero when the option was taken.
    virtual int ParseParam(const wchar_t* option) = 0;

private:
    int continue_ = 1;
    int optionsTaken_ = 0;
    int argumentCount_ = 0;
};
