// The in-memory sound card of a line: what the stack would capture from a microphone comes from
// the line's wave output device (the greeting), and what it would play on a speaker goes to the
// line's wave input device (the recording). No sound device of the machine is opened.
#include "sip/SipSoundCard.h"

#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/msticker.h>

#include <cstring>
#include <map>
#include <mutex>

#include "sip/SipState.h"

namespace sipline {
namespace {

constexpr int kRate = 8000;
constexpr size_t kMostSamplesPerTick = kRate;  // a ticker that stalled a second does not flood

struct CardFilter {
  int line = 0;
  bool started = false;
  uint64_t start = 0;
  uint64_t produced = 0;
};

int LineOf(MSSndCard* card) { return static_cast<int>(reinterpret_cast<intptr_t>(card->data)); }

void FilterInit(MSFilter* f) { f->data = new CardFilter; }
void FilterUninit(MSFilter* f) { delete static_cast<CardFilter*>(f->data); }

// The reader makes samples at the ticker's pace: the caller hears the greeting at real time.
void ReaderProcess(MSFilter* f) {
  auto* d = static_cast<CardFilter*>(f->data);
  const uint64_t now = f->ticker->time;
  if (!d->started) {
    d->started = true;
    d->start = now;
  }
  const uint64_t due = (now - d->start) * (kRate / 1000);
  if (due <= d->produced) return;
  size_t n = static_cast<size_t>(due - d->produced);
  if (n > kMostSamplesPerTick) n = kMostSamplesPerTick;
  mblk_t* m = allocb(n * 2, 0);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    TakeSamplesForCaller(d->line, reinterpret_cast<int16_t*>(m->b_wptr), n);
  }
  m->b_wptr += n * 2;
  ms_queue_put(f->outputs[0], m);
  d->produced = due;
}

void WriterProcess(MSFilter* f) {
  auto* d = static_cast<CardFilter*>(f->data);
  mblk_t* m;
  while ((m = ms_queue_get(f->inputs[0])) != nullptr) {
    msgpullup(m, static_cast<size_t>(-1));
    const size_t n = static_cast<size_t>(m->b_wptr - m->b_rptr) / 2;
    if (n) {
      std::lock_guard<std::mutex> lock(g_mutex);
      GiveSamplesFromCaller(d->line, reinterpret_cast<const int16_t*>(m->b_rptr), n);
    }
    freemsg(m);
  }
}

// Only 8000 Hz mono: the stack puts a resampler in front of the card for anything else.
int SetRate(MSFilter*, void* arg) { return *static_cast<int*>(arg) == kRate ? 0 : -1; }
int GetRate(MSFilter*, void* arg) {
  *static_cast<int*>(arg) = kRate;
  return 0;
}
int SetChannels(MSFilter*, void* arg) { return *static_cast<int*>(arg) == 1 ? 0 : -1; }
int GetChannels(MSFilter*, void* arg) {
  *static_cast<int*>(arg) = 1;
  return 0;
}

MSFilterMethod g_methods[] = {{MS_FILTER_SET_SAMPLE_RATE, SetRate},
                              {MS_FILTER_GET_SAMPLE_RATE, GetRate},
                              {MS_FILTER_SET_NCHANNELS, SetChannels},
                              {MS_FILTER_GET_NCHANNELS, GetChannels},
                              {0, nullptr}};

MSFilterDesc MakeFilterDesc(bool reader) {
  MSFilterDesc d;
  std::memset(&d, 0, sizeof d);
  d.id = MS_FILTER_PLUGIN_ID;
  d.name = reader ? "CallwatchLineRead" : "CallwatchLineWrite";
  d.text = reader ? "What is played to the caller of a line" : "What the caller of a line says";
  d.category = MS_FILTER_OTHER;
  d.ninputs = reader ? 0 : 1;
  d.noutputs = reader ? 1 : 0;
  d.init = FilterInit;
  d.process = reader ? ReaderProcess : WriterProcess;
  d.uninit = FilterUninit;
  d.methods = g_methods;
  return d;
}

MSFilterDesc g_readerDesc = MakeFilterDesc(true);
MSFilterDesc g_writerDesc = MakeFilterDesc(false);

extern MSSndCardDesc g_cardDesc;

MSFilter* CreateFilter(MSSndCard* card, MSFilterDesc* desc) {
  MSFilter* f = ms_factory_create_filter_from_desc(card->sndcardmanager->factory, desc);
  if (f) static_cast<CardFilter*>(f->data)->line = LineOf(card);
  return f;
}
MSFilter* CreateReader(MSSndCard* card) { return CreateFilter(card, &g_readerDesc); }
MSFilter* CreateWriter(MSSndCard* card) { return CreateFilter(card, &g_writerDesc); }

// Which line the cards of a stack's manager belong to: each line's stack has a factory of its own.
std::mutex g_managersMutex;
std::map<MSSndCardManager*, int> g_managers;

// The manager makes the line's card itself (and makes it again whenever it reloads its cards).
void Detect(MSSndCardManager* manager) {
  int line = 0;
  {
    std::lock_guard<std::mutex> lock(g_managersMutex);
    auto it = g_managers.find(manager);
    if (it == g_managers.end()) return;
    line = it->second;
  }
  MSSndCard* card = ms_snd_card_new_with_name(&g_cardDesc, ("line" + std::to_string(line)).c_str());
  card->data = reinterpret_cast<void*>(static_cast<intptr_t>(line));
  card->capabilities = MS_SND_CARD_CAP_CAPTURE | MS_SND_CARD_CAP_PLAYBACK;
  card->preferred_sample_rate = kRate;
  card->latency = 0;
  ms_snd_card_manager_add_card(manager, card);
}

MSSndCardDesc MakeCardDesc() {
  MSSndCardDesc d;
  std::memset(&d, 0, sizeof d);
  d.driver_type = "Callwatch";
  d.detect = Detect;
  d.create_reader = CreateReader;
  d.create_writer = CreateWriter;
  return d;
}
MSSndCardDesc g_cardDesc = MakeCardDesc();

}  // namespace

namespace {
MSSndCard* CardOf(MSSndCardManager* manager) {
  for (bctbx_list_t* it = manager->cards; it; it = it->next)
    if (static_cast<MSSndCard*>(it->data)->desc == &g_cardDesc) return static_cast<MSSndCard*>(it->data);
  return nullptr;
}
}  // namespace

std::string AddLineSoundCard(MSFactory* factory, int line) {
  MSSndCardManager* manager = ms_factory_get_snd_card_manager(factory);
  {
    std::lock_guard<std::mutex> lock(g_managersMutex);
    g_managers[manager] = line;
  }
  ms_snd_card_manager_register_desc(manager, &g_cardDesc);
  if (!CardOf(manager)) Detect(manager);  // the manager detects nothing while detection is bypassed
  MSSndCard* card = CardOf(manager);
  return card ? ms_snd_card_get_string_id(card) : std::string();
}

void ForgetLineSoundCard(MSFactory* factory) {
  std::lock_guard<std::mutex> lock(g_managersMutex);
  g_managers.erase(ms_factory_get_snd_card_manager(factory));
}

}  // namespace sipline
