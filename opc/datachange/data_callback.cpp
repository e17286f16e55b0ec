#include "opc/datachange/data_callback.h"

#include "opc/datachange/delivery_group.h"
#include "opc/items/item_object.h"

DataCallback::DataCallback(DeliveryGroup& group, std::shared_ptr<ClientDelivery> delivery)
    : m_group(group), m_point(group, IID_IOPCDataCallback, *this), m_sink(std::move(delivery))
{
}

HRESULT DataCallback::TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink)
{
    // Held: handing the sink over may call the client, which may let go of the group meanwhile.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&m_group);
    const HRESULT hr = m_sink.Connect(IID_IOPCDataCallback, std::move(sink));
    if (FAILED(hr)) return hr;
    m_group.Items().ForEach([](ItemObject& item) { item.MarkOwedToDataCallback(); });
    return S_OK;
}
