// The whole tarvex interface.
#pragma once

#include <tarvex/types.h>
#include <tarvex/llist.h>
#include <tarvex/memory.h>
#include <tarvex/error.h>
#include <tarvex/strings.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/timer.h>
#include <tarvex/lzss.h>
#include <tarvex/xiff.h>
