#include "app/startup.h"

#ifdef CENDROW_WINDOWS
#include "app/shell/windowed_shell.h"
#endif

int main(int argc, char** argv) {
#ifdef CENDROW_WINDOWS
    // Torn down after the run: the toolkit outlives the windows and the core.
    CWindowedShell shell;
    return RunApplication(argc, argv, &shell);
#else
    return RunApplication(argc, argv);
#endif
}
