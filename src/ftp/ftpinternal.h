// Helpers shared by the FTP client's source files: tracked text copies and
// the release of the client's queue records. Private to src/ftp.
#pragma once

#include <tarvex/ftp.h>
#include <tarvex/memory.h>

#include <cstring>

#include "core/textcopy.h"

namespace tvftp
{

using tvcore::CopyText;
using tvcore::FreeText;

// Texts that go into a command line: present, and without a line break
// that would end the command early and start another.
inline bool SafeCommandText(const char* text)
{
    return text != nullptr && std::strpbrk(text, "\r\n") == nullptr;
}

void FreeFile(SFtpFile* file);
void FreeUserCommand(SFtpUserCommand* cmd);
void FreeSendCommand(SFtpSendCommand* cmd);
void FreeReply(SFtpRecvCommand* reply);

} // namespace tvftp
