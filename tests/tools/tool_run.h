// Runs a tool through the shell for the tools' tests.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace tvtest
{

struct ToolRun {
    int rc = -1;     // the exit code, -1 when the tool did not exit normally
    std::string out; // what it wrote to standard output
};

// Runs the shell command cmd and collects its standard output.
inline ToolRun RunTool(const std::string& cmd)
{
    ToolRun r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int status = pclose(p);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace tvtest
