#include "opc/group/client_session.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// Every session not yet ended, uncounted, for the reclaim of clients whose process ended.
std::vector<ClientSession*> g_sessions;

}  // namespace

ClientSession::ClientSession(std::shared_ptr<ClientDelivery> clientDelivery)
    : delivery(std::move(clientDelivery))
{
}

std::shared_ptr<ClientSession> ClientSession::Create()
{
    try {
        auto clientDelivery = std::make_shared<ClientDelivery>();
        std::shared_ptr<ClientSession> session(new ClientSession(std::move(clientDelivery)));
        g_sessions.push_back(session.get());
        return session;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

ClientSession::~ClientSession()
{
    g_sessions.erase(std::remove(g_sessions.begin(), g_sessions.end(), this), g_sessions.end());
}

void ClientSession::WatchClient(DWORD processId)
{
    m_clientProcessId = processId;
    delivery->SetClientProcessId(processId);
    m_clientProcess.reset(processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
}

bool ClientSession::TakeClientEnded()
{
    if (!m_clientProcess || WaitForSingleObject(m_clientProcess.get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    m_clientProcess.reset();
    return true;
}

bool ClientSession::AddGroup(GroupObject* group)
{
    try {
        m_groups.insert(group);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ClientSession::ListAll(std::vector<std::shared_ptr<ClientSession>>& sessions)
{
    try {
        sessions.reserve(g_sessions.size());
        for (ClientSession* session : g_sessions) sessions.push_back(session->shared_from_this());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
