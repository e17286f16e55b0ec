#include "opc/datachange/delivery_queue.h"

#include <algorithm>
#include <new>

namespace {

bool IsStreamOf(const QueuedDelivery& entry, int connection)
{
    return entry.step == DeliveryStep::Stream && entry.connection == connection;
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
                                             return IsStreamOf(waiting, entry.connection);
                                         }),
                          entries.end());
        } else if (entry.coalesces) {
            // The newer data change goes to the end: it comes after every completion queued
            // before it, as it would have on time.
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [&](const QueuedDelivery& waiting) {
                                             return IsStreamOf(waiting, entry.connection) &&
                                                    waiting.coalesces &&
                                                    waiting.format == entry.format;
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
                                           return waiting.step == DeliveryStep::Stream;
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
