#pragma once
// Runs a test body in a child process of its own, for state that a process
// keeps once set (gettext's language and catalogues, the environment). The
// body returns an empty text on success, else what failed; the child's
// message comes back on stderr and its failure as a test failure.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace testsupport {

inline void InChild(const std::function<std::string()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::string failure = body();
        if (!failure.empty()) std::fprintf(stderr, "child: %s\n", failure.c_str());
        std::fflush(nullptr);
        _exit(failure.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the child's message above";
}

// The environment of a fresh start: no LANGUAGE, the given LANG.
inline void FreshLanguageEnvironment(const char* lang) {
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", lang, 1);
}

}  // namespace testsupport
