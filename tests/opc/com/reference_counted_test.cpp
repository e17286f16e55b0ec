#include "opc/com/reference_counted.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records what happens to it in `events`; the object itself is gone after "final".
class Recorded final : public ReferenceCounted<Recorded> {
public:
    explicit Recorded(std::vector<const char*>& events) : m_events(events) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }

private:
    friend class ReferenceCounted<Recorded>;
    ~Recorded() { m_events.push_back("destroyed"); }
    void OnAddRef() { m_events.push_back("add"); }
    void OnRelease() { m_events.push_back("release"); }
    void FinalRelease()
    {
        m_events.push_back("final");
        delete this;
    }

    std::vector<const char*>& m_events;
};

TEST(ReferenceCounted, CountStartsAtZeroAndTheCreatorsQueryInterfaceTakesItToOne)
{
    std::vector<const char*> events;
    auto* object = new Recorded(events);
    IUnknown* handed = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&handed)));
    EXPECT_EQ(2u, handed->AddRef());
    EXPECT_EQ(1u, handed->Release());
    EXPECT_EQ(0u, handed->Release());
}

TEST(ReferenceCounted, HooksRunBeforeEachChangeAndFinalReleaseOnceAtZero)
{
    std::vector<const char*> events;
    auto* object = new Recorded(events);
    object->AddRef();
    object->AddRef();
    object->Release();
    object->Release();
    const std::vector<const char*> expected = {"add",     "add",   "release",
                                               "release", "final", "destroyed"};
    ASSERT_EQ(expected.size(), events.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_STREQ(expected[i], events[i]) << i;
}

// Without hooks of its own an object is simply deleted at zero.
class Plain final : public ReferenceCounted<Plain> {
public:
    explicit Plain(bool& destroyed) : m_destroyed(destroyed) {}
    ~Plain() { m_destroyed = true; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }

private:
    bool& m_destroyed;
};

TEST(ReferenceCounted, WithoutHooksTheLastReleaseDeletes)
{
    bool destroyed = false;
    auto* object = new Plain(destroyed);
    object->AddRef();
    object->AddRef();
    object->Release();
    EXPECT_FALSE(destroyed);
    object->Release();
    EXPECT_TRUE(destroyed);
}

}  // namespace
