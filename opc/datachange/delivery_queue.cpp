#include "opc/datachange/delivery_queue.h"

#include <algorithm>
#include <new>

namespace {

bool IsCallOf(const QueuedDelivery& entry, int connection)
{
    return entry.step == DeliveryStep::Call && entry.connection == connection;
}

}  // namespace

bool DeliveryQueue::Push(QueuedDelivery entry)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) return false;
        auto& entries = m_entries;
        if (entry.step == DeliveryStep::Disconnect) {
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [&](const QueuedDelivery& waiting) {
                                             return IsCallOf(waiting, entry.connection);
                                         }),
                          entries.end());
        } else if (entry.step == DeliveryStep::Call && entry.call->Coalesces()) {
            // The newer data change goes to the end: it comes after every completion queued
            // before it, as it would have on time. Newest first, so that what the newer one
            // takes in is the latest the client was owed.
            bool completionBetween = false;
            for (auto waiting = entries.rbegin(); waiting != entries.rend(); ++waiting) {
                if (!IsCallOf(*waiting, entry.connection)) continue;
                if (!waiting->call->Coalesces()) {
                    completionBetween = true;
                } else if (entry.call->Absorb(*waiting->call, completionBetween)) {
                    waiting->call.reset();
                }
            }
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [](const QueuedDelivery& waiting) {
                                             return waiting.step == DeliveryStep::Call &&
                                                    !waiting.call;
                                         }),
                          entries.end());
        }
        try {
            entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    m_ready.notify_one();
    return true;
}

void DeliveryQueue::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [](const QueuedDelivery& waiting) {
                                           return waiting.step == DeliveryStep::Call;
                                       }),
                        m_entries.end());
    }
    m_ready.notify_one();
}

bool DeliveryQueue::WaitNext(QueuedDelivery& entry)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_ready.wait(guard, [this] { return m_closed || !m_entries.empty(); });
    if (m_entries.empty()) return false;
    entry = std::move(m_entries.front());
    m_entries.pop_front();
    return true;
}

bool DeliveryQueue::TryNext(QueuedDelivery& entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_entries.empty()) return false;
    entry = std::move(m_entries.front());
    m_entries.pop_front();
    return true;
}

bool DeliveryQueue::Empty() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.empty();
}
