#pragma once
// An nginx of a test's own: a configuration that keeps every file in the
// test's folder and serves `dir`/www on one address, run in the foreground.

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testsupport {

// Writes `dir`/nginx.conf for `listen` ("127.0.0.1:8080") and returns the
// command that runs it in the foreground.
inline std::vector<std::string> NginxCommand(const std::string& dir, const std::string& listen) {
    std::filesystem::create_directories(dir + "/tmp");
    WriteFile(dir + "/nginx.conf",
              "user root;\nworker_processes 2;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
                  "/nginx-error.log;\nevents { worker_connections 1024; }\nhttp {\n"
                  "  access_log off;\n  sendfile on;\n  default_type application/octet-stream;\n"
                  "  client_body_temp_path " +
                  dir + "/tmp/body;\n  proxy_temp_path " + dir + "/tmp/proxy;\n  fastcgi_temp_path " + dir +
                  "/tmp/fastcgi;\n  uwsgi_temp_path " + dir + "/tmp/uwsgi;\n  scgi_temp_path " + dir +
                  "/tmp/scgi;\n  server {\n    listen " + listen + ";\n    root " + dir + "/www;\n  }\n}\n");
    return {"nginx", "-c", dir + "/nginx.conf", "-e", dir + "/nginx-error.log", "-g", "daemon off;"};
}

}  // namespace testsupport
