// Shared by the dialog builder (dialog.cpp) and the readers of the control
// kinds (dialog_ctrls.cpp): the table of kinds and the reading context.
#pragma once

#include <tarvex/dialog.h>

// What a kind's reader gets: the resource data positioned inside the
// control's chunk, the control's id and id name, and its kind in lower case
// for the messages.
struct SDlgRead {
    CResData* res;
    const char* idName;
    int32_t id;
    const char* kind;
};

// A kind's reader creates the control from the chunk's "Create" item and
// reads the kind's own items; null (reported, nothing left) on failure.
using XDlgReader = CControlBase* (*)(SDlgRead& r);

struct SDlgKind {
    const char* name; // as written in descriptions, matched ignoring case
    const char* lower;
    int32_t code;
    XDlgReader read; // null: the kind is not built into this library
};

// The kind of a type name (ignoring case); null when there is none.
const SDlgKind* xDlgFindKind(const char* name);
// The kind's name in lower case for messages ("control" for none).
const char* xDlgKindName(int32_t code);
// Destroys and deletes a control that is not in any list.
void xDlgDiscard(CControlBase* c);
// The plain static of a "CreateStatic" item (values from 1: text, x, y, w,
// h, flags); null (reported) on failure.
CControlBase* xDlgCreateStatic(CResData* res, const char* idName, int32_t id);
// Adds a control read inside a group box to it; FALSE when the group box
// does not take it.
int32_t xDlgAddToGroup(CControlBase* group, CControlBase* c, int32_t type);
// Takes every member out of a group box (before any of them goes).
void xDlgReleaseGroup(CControlBase* group);
// A "Progress" control's SetValue.
int32_t xDlgSetProgress(CControlBase* c, int32_t value);
