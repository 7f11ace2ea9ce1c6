#pragma once
// The monitoring flow against the provider: the context initialized as Callwatch does it, a log
// view and call-screen views that keep what they were shown, the digit link replaced by what it was given.
#include <fstream>
#include <map>

#include "base/JWaveFile.h"
#include "core/CallMonitor.h"
#include "core/Debug.h"
#include "tests/ProviderFixture.h"

struct ShownScreen {
  bool visible = false;
  std::map<int, bool> shown;
  std::map<int, std::string> texts;
  std::vector<std::string> boxes;
  std::string name, number;
};

class TestScreenView : public ICallScreenView {
public:
  explicit TestScreenView(std::shared_ptr<ShownScreen> s) : m_s(std::move(s)) {}
  void ShowScreen(bool v) override { m_s->visible = v; }
  void ShowControl(int id, bool v) override { m_s->shown[id] = v; }
  void SetControlText(int id, const std::string& t) override { m_s->texts[id] = t; }
  void MessageBox(const std::string& t) override { m_s->boxes.push_back(t); }
  void CallerChanged(const std::string& n, const std::string& m) override {
    m_s->name = n;
    m_s->number = m;
  }

private:
  std::shared_ptr<ShownScreen> m_s;
};

class TestLogView : public ICallLogView {
public:
  void RecordAdded(CCallRecord* r) override { rows.push_back(r); }
  void RecordChanged(CCallRecord* r) override { ++changes[r]; }
  void RefreshTimer(bool running) override { timerChanges.push_back(running); }
  std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord*) override {
    screens.push_back(std::make_shared<ShownScreen>());
    return std::make_unique<TestScreenView>(screens.back());
  }
  std::vector<CCallRecord*> rows;
  std::map<CCallRecord*, int> changes;
  std::vector<bool> timerChanges;
  std::vector<std::shared_ptr<ShownScreen>> screens;
};

class CallwatchTest : public ProviderTest {
protected:
  void SetUp() override {
    ProviderTest::SetUp();
    setup.messagesFolder = folder.file("Messages");
    setup.link = &digits;
    setup.greeting.assign(800, 1000);  // a tenth of a second
    SetDebugOutput([this](const std::string& text) { debug.push_back(text); });
  }
  void TearDown() override {
    monitor.reset();
    SetDebugOutput(nullptr);
    ProviderTest::TearDown();
  }
  // Callwatch's start-up: the line half, the phone half, every line open, the rings applied.
  void start(int rings = CCallMonitor::kDefaultRings) {
    ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
    CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);
    monitor = std::make_unique<CCallMonitor>(&view, setup);
    monitor->OpenAllLines();
    monitor->ApplyRings(rings);
  }
  // Until the caller has heard the end and the program has finished every record, and what the
  // end set off (a message's data) has come in.
  bool pumpUntilOver(const SimCaller& caller, int ms = 10000) {
    if (!pumpUntil([&] { return caller.Done() && monitor && monitor->ActiveCalls() == 0; }, ms)) return false;
    pumpFor(50);
    return true;
  }
  CCallRecord* record(size_t i) { return i < monitor->Records().size() ? monitor->Records()[i].get() : nullptr; }
  std::string writeSound(const std::string& name, const std::vector<int16_t>& samples, uint32_t rate = 8000) {
    const std::string path = folder.file(name);
    std::string why;
    EXPECT_TRUE(JWaveFile::writeSamples(path, JWaveFormat::pcm(rate, 1, 16), samples, why)) << why;
    return path;
  }

  TestLogView view;
  std::unique_ptr<CCallMonitor> monitor;
  CCallScreenSetup setup;
  KeptDigitLink digits;
  std::vector<std::string> debug;
};
