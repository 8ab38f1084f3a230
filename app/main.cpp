#include <cstdio>

#include "app/tap_command_line_parser.h"
#include "foundation/app_paths.h"
#include "foundation/program_log.h"
#include "foundation/settings.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/service_config.h"

int main(int argc, char** argv) {
    InitAppPaths();
    InitLogging(GetAppDir(), "log", "Cendrow", 0, 1);
    CTapCommandLineParser parser;
    parser.Parse(argc, argv);
    if (!parser.GetContinue()) return 0;
    CreateAppFolders();
    LoadAgentConfig(GetAppDir());
    LoadServiceConfig(GetAppDir());
    LoadSettings();

    std::printf("Cendrow: program folder %s, settings %s\n", GetAppDir().c_str(),
                GetSettingsFilePath().c_str());
    std::fflush(stdout);

    SaveSettings();
    return 0;
}
