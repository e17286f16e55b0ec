#include "opc/datachange/callback_requests.h"

#include <algorithm>
#include <new>

DWORD CallbackRequests::Queue(CallbackRequest request)
{
    // 0 is never a cancel ID, so that it cannot name a request.
    DWORD id = m_lastCancelId + 1;
    if (id == 0) ++id;
    request.cancelId = id;
    try {
        m_requests.push_back(std::move(request));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    m_lastCancelId = id;
    return id;
}

bool CallbackRequests::Cancel(DWORD cancelId)
{
    for (CallbackRequest& request : m_requests) {
        if (request.cancelId == cancelId && !request.cancelled) {
            request.cancelled = true;
            return true;
        }
    }
    return false;
}

const CallbackRequest* CallbackRequests::Oldest() const
{
    return m_requests.empty() ? nullptr : &m_requests.front();
}

void CallbackRequests::ForgetItem(OPCHANDLE handle)
{
    for (CallbackRequest& request : m_requests) {
        for (size_t i = request.items.size(); i-- > 0;) {
            if (request.items[i] != handle) continue;
            request.items.erase(request.items.begin() + static_cast<std::ptrdiff_t>(i));
            if (!request.writeResults.empty()) {
                request.writeResults.erase(request.writeResults.begin() +
                                           static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    m_requests.erase(std::remove_if(m_requests.begin(), m_requests.end(),
                                    [](const CallbackRequest& request) {
                                        return request.items.empty() && !request.cancelled;
                                    }),
                     m_requests.end());
}
