// The stand-in engine as a COM object: it holds the callback sink the way
// the service does (a reference of its own from RegisterCallback until
// UnregisterCallback or its end), also while its own thread fires events,
// so that a client that gets the sink's lifetime wrong fails against it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "console_test_util.h"
#include "foundation/comobject.h"
#include "foundation/comptr.h"
#include "foundation/platform.h"

namespace {

using tarvixlib::CComObjectMake;
using tarvixlib::CComPtr;
using tarvixstandin::CStandinEngine;

// Counts the events it gets and notes its own end. Every event's data
// object is read while the call lasts.
class CCountingSink final : public tarvixlib::CComObject<ITarvixEvent> {
public:
  explicit CCountingSink(std::atomic<bool>* gone) : m_gone(gone) {}
  ~CCountingSink() override { *m_gone = true; }
  HRESULT STDMETHODCALLTYPE OnVirusFound(ITarvixEventInfo* info) noexcept override {
    tarvixlib::CUniqueBstr value;
    if (info && info->GetValue(0, value.Out()) == S_OK && value && value.Get()[0] == L'x') ++calls;
    return S_OK;
  }
  std::atomic<int> calls{0};

private:
  std::atomic<bool>* m_gone;
};

const char kOneEvent[] = "Callback\nCallbackValue 0 0 \"x\"\n";

bool WaitFor(const std::atomic<int>& value, int wanted) {
  for (int i = 0; i < 1000 && value.load() != wanted; ++i) tarvixlib::platform::SleepMs(5);
  return value.load() == wanted;
}

// Registers a new counting sink and drops the caller's own reference to it,
// as a client that relies on the engine's reference would. The sink, or
// null (with a failure) when the engine took no reference: it is gone then.
CCountingSink* RegisterAndLetGo(CStandinEngine* engine, std::atomic<bool>* gone) {
  CComPtr<CCountingSink> sink = CComObjectMake<CCountingSink>(gone);
  EXPECT_EQ(engine->RegisterCallback(0, sink.Get()), S_OK);
  EXPECT_EQ(sink->RefCount(), 2) << "the engine takes a reference of its own";
  return sink->RefCount() == 2 ? sink.Get() : nullptr;
}

TEST(StandinEngine, HoldsTheRegisteredSinkUntilUnregistered) {
  CComPtr<CStandinEngine> engine = consoletest::MakeEngine(std::string("CallbackManual\n") + kOneEvent);
  std::atomic<bool> gone{false};
  CCountingSink* sink = RegisterAndLetGo(engine.Get(), &gone);
  ASSERT_NE(sink, nullptr);
  EXPECT_FALSE(gone) << "still registered: the engine keeps it";
  engine->FireRegisteredCallbacks();
  EXPECT_EQ(sink->calls.load(), 1);
  ASSERT_EQ(engine->UnregisterCallback(0), S_OK);
  EXPECT_TRUE(gone) << "unregistering gives the reference back";
  engine->FireRegisteredCallbacks();  // nothing registered: nothing happens
}

TEST(StandinEngine, ReRegisteringOrEndingReleasesTheSink) {
  CComPtr<CStandinEngine> engine = consoletest::MakeEngine(std::string("CallbackManual\n") + kOneEvent);
  std::atomic<bool> firstGone{false}, secondGone{false};
  {
    CComPtr<CCountingSink> first = CComObjectMake<CCountingSink>(&firstGone);
    CComPtr<CCountingSink> second = CComObjectMake<CCountingSink>(&secondGone);
    engine->RegisterCallback(0, first.Get());
    engine->RegisterCallback(0, second.Get());
    EXPECT_EQ(first->RefCount(), 1) << "the replaced sink is given back";
    EXPECT_EQ(second->RefCount(), 2);
  }
  EXPECT_TRUE(firstGone);
  EXPECT_FALSE(secondGone) << "still registered";
  engine.Reset();
  EXPECT_TRUE(secondGone) << "the engine's end gives its reference back";
}

TEST(StandinEngine, ItsThreadFiresIntoASinkTheClientLetGoOf) {
  CComPtr<CStandinEngine> engine = consoletest::MakeEngine(std::string("CallbackDelay 100\n") + kOneEvent);
  std::atomic<bool> gone{false};
  CCountingSink* sink = RegisterAndLetGo(engine.Get(), &gone);  // before the thread fires
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(WaitFor(sink->calls, 1)) << "the event reached the sink the engine holds";
  EXPECT_FALSE(gone);
  ASSERT_EQ(engine->UnregisterCallback(0), S_OK);
  EXPECT_TRUE(gone);
}

}  // namespace
