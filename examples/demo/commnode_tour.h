// The main example's tour of comm nodes and the clock service.
#pragma once

// A client process (forked) and this process exchange KCBL messages through
// comm nodes over loopback, and the client measures its clock offset to
// this process. Prints what happened; true when all went through.
bool CommNodeTour();
