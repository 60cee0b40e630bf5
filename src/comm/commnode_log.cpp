// Comm nodes, log file: one record per INIT, EXIT, READ and WRITE, appended
// to the node's log file (opened, written and closed for every record, so
// the file is complete whenever the process stops).
#include "comm/commnode_internal.h"

#include <tarvex/commnode.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>

#include <cstdio>
#include <cstring>

namespace
{

const char* kRule = "\n---------------------------------------\n";

void Put(CFile& f, const char* text) { f.Write(text, static_cast<uint32_t>(std::strlen(text))); }

} // namespace

void CCommNode::LogFileRead(const char* data, uint32_t size) { LogFileWriteData("\n>READ< ", data, size); }

void CCommNode::LogFileWrite(const char* data, uint32_t size) { LogFileWriteData("\n>WRITE< ", data, size); }

void CCommNode::LogFileInit() { LogFileWriteData("\n>INIT< ", nullptr, 0); }

void CCommNode::LogFileExit() { LogFileWriteData("\n>EXIT< ", nullptr, 0); }

void CCommNode::LogFileWriteNodeType(CFile* file)
{
    if (file != nullptr)
        Put(*file, tvnode::TypeText(nodeType));
}

void CCommNode::LogFileWriteData(const char* tag, const char* data, uint32_t size)
{
    if (logEnabled != TRUE)
        return;
    if (logFileName == nullptr) {
        Fail("CCommNode::LogFileWriteData:not a valid logfile name (logFileName == NULL)");
        return;
    }
    CFile f;
    if (!f.Open(logFileName, XFILE_APPEND))
        return;
    char number[32];
    Put(f, kRule);
    Put(f, kRule);
    Put(f, tag);
    Put(f, "  | Object name: ");
    Put(f, objectName != nullptr ? objectName : "No objectname is available");
    Put(f, "  | Node name: ");
    Put(f, nodeName != nullptr ? nodeName : "No nodename is available");
    Put(f, "  | Node id: ");
    std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(nodeId));
    Put(f, number);
    Put(f, "  | Node type: ");
    LogFileWriteNodeType(&f);
    Put(f, "\n");
    Put(f, "\n");
    Put(f, "Timestamp: ");
    std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(xGetTime()));
    Put(f, number);
    Put(f, "  |   Address: ");
    std::snprintf(number, sizeof number, "%lu",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
    Put(f, number);
    Put(f, "\n");
    // Only READ and WRITE records carry data.
    if (data != nullptr) {
        Put(f, "\n-\n");
        if (size != 0)
            f.Write(data, size);
        Put(f, "\n-\n");
    }
    Put(f, kRule);
    Put(f, kRule);
    f.Close();
}
