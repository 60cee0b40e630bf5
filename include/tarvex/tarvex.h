// The whole tarvex interface.
#pragma once

#include <tarvex/version.h>
#include <tarvex/types.h>
#include <tarvex/llist.h>
#include <tarvex/memory.h>
#include <tarvex/error.h>
#include <tarvex/strings.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/timer.h>
#include <tarvex/packet.h>
#include <tarvex/socket.h>
#include <tarvex/proxyloc.h>
#include <tarvex/comm.h>
#include <tarvex/rect.h>
#include <tarvex/bitmap.h>
#include <tarvex/pictype.h>
#include <tarvex/shade.h>
#include <tarvex/kcbl.h>
#include <tarvex/lzss.h>
#include <tarvex/xiff.h>
