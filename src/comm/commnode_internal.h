// Shared by the comm node's source files: the global node list and the
// type names of the log file.
#pragma once

#include <tarvex/llist.h>
#include <tarvex/types.h>

namespace tvnode
{

// The global node list, created on first use; null without globals or memory.
CLList* NodeList();
// "ANY", "SERVER", "CLIENT", or "ERROR" for any other value.
const char* TypeText(uint32_t type);

} // namespace tvnode
