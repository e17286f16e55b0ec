#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "opc/com/connection_point.h"
#include "opc/datachange/data_callback_call.h"

class DeliveryGroup;

// A group's IOPCDataCallback connection: its one connection point, the route of its calls
// (a sink in another process through the group's delivery thread, one in the server's own
// apartment called at once) and whether the update pass's data changes are enabled.
class DataCallback final : public ConnectionObserver {
public:
    explicit DataCallback(DeliveryGroup& group);
    DataCallback(const DataCallback&) = delete;
    DataCallback& operator=(const DataCallback&) = delete;

    ConnectionPoint& Point() { return m_point; }
    bool Connected() const { return m_point.ConnectedSink<IOPCDataCallback>() != nullptr; }
    // Hands the call to the connected sink; with none connected it is dropped.
    void Deliver(std::unique_ptr<DataCallbackCall> call);

    // IOPCAsyncIO2::SetEnable: the update pass's data changes go out only while enabled.
    bool enabled = true;

private:
    // A newly connected sink is owed every active item; one of another process is handed to
    // the delivery thread.
    void SinkConnected(IUnknown& sink) override;
    void SinkDisconnected() override;

    DeliveryGroup& m_group;
    ConnectionPoint m_point;
    bool m_delivered = false;   // the sink gets its calls through the group's delivery
    unsigned m_generation = 0;  // counts connects and disconnects; see SinkConnected
};
