// Handing files and addresses to the desktop through ShellExecute: the
// system's own open verb, with the file and its parameters passed apart, never
// through a command interpreter. Its answers (above 32, or 0, 2, 3, 5, 31)
// are the ones the library reports.
#include "platform/platform.h"

#include "platform/win.h"

#include <string>

namespace tvp
{

namespace
{

// A program the tests put in place of the desktop's handler: it is started
// with the file as its parameter.
std::string& Opener()
{
    static std::string* s = new std::string;
    return *s;
}

// One parameter for a program's argument line, quoted so that spaces and
// quotes in it arrive intact (the rules of the C runtime's argument parser).
std::string Quote(const std::string& arg)
{
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(slashes * 2, '\\');
    out.push_back('"');
    return out;
}

} // namespace

int32_t ShellOpen(const char* file, const char* params)
{
    if (file == nullptr || *file == '\0')
        return 2;
    const std::string& opener = Opener();
    intptr_t r;
    if (opener.empty()) {
        r = reinterpret_cast<intptr_t>(::ShellExecuteA(nullptr, "open", file,
                                                       params != nullptr && *params != 0 ? params : nullptr,
                                                       nullptr, SW_SHOWNORMAL));
    } else {
        std::string args = Quote(file);
        if (params != nullptr && *params != 0)
            args += " " + Quote(params);
        r = reinterpret_cast<intptr_t>(
            ::ShellExecuteA(nullptr, "open", opener.c_str(), args.c_str(), nullptr, SW_SHOWNORMAL));
    }
    return r > 32 ? 33 : static_cast<int32_t>(r);
}

void TestSetShellOpener(const char* program) { Opener() = program != nullptr ? program : ""; }

} // namespace tvp
