// The FTP part of the demo tour: a file downloaded from a local server.
#pragma once

#include <string>

// Starts a local FTP server (pyftpdlib) when one is installed, downloads a
// file from it with CFtpClient driven by the frame, showing a progress line,
// and compares the copy. Without the server the step is skipped (true).
bool FtpTour(const std::string& folder);
