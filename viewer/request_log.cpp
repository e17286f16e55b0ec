#include "viewer/request_log.h"

#include <iterator>

#include "runtime_link/ansi_text.h"

std::string FormatWriteRequest(const TakenWriteRequest& request)
{
    std::string line = "tag=" + std::to_string(request.index) + " name=\"" +
                       Utf8FromAnsi(request.name) + "\" type=" + std::to_string(request.typeCode) +
                       " value=\"" + Utf8FromAnsi(request.value) +
                       "\" status=" + std::to_string(request.status) + " stamp=";
    for (size_t i = 0; i < std::size(request.stamp); ++i)
        line += (i ? "," : "") + std::to_string(request.stamp[i]);
    return line;
}

bool RequestLog::Open(const std::string& path, std::string& error)
{
    m_file.open(path, std::ios::binary | std::ios::app);
    if (!m_file) {
        error = "cannot open the request log " + path;
        return false;
    }
    return true;
}

void RequestLog::Append(const TakenWriteRequest& request)
{
    m_file << FormatWriteRequest(request) << '\n' << std::flush;
}
