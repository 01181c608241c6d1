// A conversation of 10,000 messages: appending a row, painting a frame of
// the 240x320 screen, history coming in at the front, a row changing its
// height and a whole history answer; and the menu of one huge text full of
// web addresses.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "message_list.h"
#include "olvaro/api.h"
#include "testkit/modal.h"
#include "platform/window.h"
#include "testkit/testkit.h"

namespace {

class Owner : public messaging::Conversation {
 public:
  std::u16string ownName() override { return u"Ann"; }
  void requestHistory() override {}
  bool listKey(UINT, bool, LPARAM) override { return false; }
  HWND windowHandle() override { return nullptr; }
};

HMessage* textMessage(HContact* from, int i, std::string text = std::string()) {
  if (text.empty())
    text = "message number " + std::to_string(i) + (i % 5 == 0 ? " which is long enough to wrap onto a second line" : "");
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_CONTACT | MESSAGE_CONTENTTYPE | MESSAGE_PAYLOAD | MESSAGE_COMPLETE | MESSAGE_ORIGIN | MESSAGE_TIME;
  d.contact = from;
  d.contentType = "text/plain";
  d.payload = reinterpret_cast<const uint8_t*>(text.data());
  d.payloadLength = int32_t(text.size());
  d.complete = 1;
  d.origin = 1;
  d.timeSec = d.localTimeSec = 1767225600 - 10000 + i;
  return KS_CreateMessage(&d);
}

// The headless screen, a window with a full-screen list of `rows` messages.
struct Conversation {
  explicit Conversation(int rows) {
    ContactData c{};
    c.size = sizeof c;
    c.mask = CONTACT_NICKNAME;
    c.nickname = "Bob";
    bob = KS_CreateContact(&c);
    window = CreateWindowEx(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr, nullptr,
                            nullptr);
    list = std::make_unique<messaging::MessageList>(window, &owner);
    MoveWindow(list->hwnd(), 0, 0, 240, 320, TRUE);
    for (int i = 0; i < rows; ++i) append(i);
    testkit::pump();
  }
  ~Conversation() {
    list.reset();
    DestroyWindow(window);
    KS_ReleaseContact(bob);
  }
  void append(int i) {
    HMessage* m = textMessage(bob, i);
    list->append(fwk::Ref<fwk::Row>(new messaging::MessageRow(m, list.get())));
    KS_ReleaseMessage(m);
  }
  Owner owner;
  HContact* bob = nullptr;
  HWND window = nullptr;
  std::unique_ptr<messaging::MessageList> list;
};

// The cost of an append is the same whatever the length of the list.
void BM_Append(benchmark::State& state) {
  testkit::Session session;
  Conversation c(int(state.range(0)));
  int i = int(state.range(0));
  for (auto _ : state) c.append(i++);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Append)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_PaintFrameOf10000(benchmark::State& state) {
  testkit::Session session;
  Conversation c(10000);
  for (auto _ : state) {
    InvalidateRect(c.list->hwnd(), nullptr, FALSE);
    UpdateWindow(c.list->hwnd());
  }
}
BENCHMARK(BM_PaintFrameOf10000)->Unit(benchmark::kMicrosecond);

void BM_HistoryAtTheFrontOf10000(benchmark::State& state) {
  testkit::Session session;
  Conversation c(10000);
  c.list->setMoreRow(true);
  for (auto _ : state) {
    // A placeholder goes in under the bar, then a message takes its place.
    c.list->setMoreRow(false);
    c.list->insertRowAtFront(fwk::Ref<fwk::Row>(new messaging::WaitRow()));
    c.list->setMoreRow(true);
    HMessage* m = textMessage(c.bob, 0);
    c.list->replaceRow(1, fwk::Ref<fwk::Row>(new messaging::MessageRow(m, c.list.get())));
    KS_ReleaseMessage(m);
  }
}
BENCHMARK(BM_HistoryAtTheFrontOf10000)->Unit(benchmark::kMicrosecond);

// A text in the middle of the list changes its height (as one still
// arriving grows): the rows below move, none is measured again.
void BM_RowHeightChangeIn10000(benchmark::State& state) {
  testkit::Session session;
  Conversation c(10000);
  auto* row = static_cast<messaging::MessageRow*>(c.list->row(5000));
  const std::string texts[] = {"short", "a text that is long enough to wrap onto a second and even onto a third line"};
  int i = 0;
  for (auto _ : state) {
    const std::string& text = texts[++i % 2];
    MessageData d{};
    d.size = sizeof d;
    d.mask = MESSAGE_PAYLOAD;
    d.payload = reinterpret_cast<const uint8_t*>(text.data());
    d.payloadLength = int32_t(text.size());
    KS_SetMessageData(row->message(), &d);
  }
}
BENCHMARK(BM_RowHeightChangeIn10000)->Unit(benchmark::kMicrosecond);

// A history answer of 20 messages as the window takes it: 20 placeholders,
// a message in place of each, then the completion.
void BM_HistoryAnswerOf20In10000(benchmark::State& state) {
  testkit::Session session;
  Conversation c(10000);
  c.list->setMoreRow(true);
  std::vector<HMessage*> answers;
  for (int i = 0; i < 20; ++i) answers.push_back(textMessage(c.bob, i));
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) c.list->addWaitRow();
    for (int i = 19; i >= 0; --i)
      c.list->replaceRow(1 + i, fwk::Ref<fwk::Row>(new messaging::MessageRow(answers[size_t(i)], c.list.get())));
    c.list->dropWaitRows(true);
    state.PauseTiming();
    for (int i = 0; i < 20; ++i) c.list->removeRow(c.list->row(1));
    state.ResumeTiming();
  }
  for (HMessage* m : answers) KS_ReleaseMessage(m);
}
BENCHMARK(BM_HistoryAnswerOf20In10000)->Unit(benchmark::kMicrosecond);

// Opening (and closing) the menu of a text of the given size made of web
// addresses: the menu lists the first few whatever the size.
void BM_MenuOfAHugeText(benchmark::State& state) {
  testkit::Session session;
  Conversation c(0);
  std::string text;
  while (text.size() < size_t(state.range(0))) text += "see www.example.org/page" + std::to_string(text.size()) + " ";
  HMessage* m = textMessage(c.bob, 0, text);
  auto* row = new messaging::MessageRow(m, c.list.get());
  c.list->append(fwk::Ref<fwk::Row>(row));
  KS_ReleaseMessage(m);
  auto dismiss = testkit::ModalAnswers::always(testkit::pressing({VK_ESCAPE}), testkit::Modal::Menu);
  for (auto _ : state) row->contextMenu(10, 10);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MenuOfAHugeText)->Arg(16 << 10)->Arg(64 << 10)->Arg(256 << 10)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
