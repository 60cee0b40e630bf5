// The resource-data part of the main example.
#pragma once

#include <string>

// Writes a small resource script, packs it into "<folder>/demo.res", loads
// the packed file and prints what it looks up.
bool ResDataTour(const std::string& folder);
