// The relay proxy's part of the main example.
#pragma once

// A client reaches a server through a relay proxy in this process; prints
// what went through and the proxy's history line. False on failure.
bool ProxyTour();
