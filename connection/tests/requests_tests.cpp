// The table of requests waiting for answers, and the decoding of codes.
#include <gtest/gtest.h>

#include <vector>

#include "pending_requests.h"

using namespace olvaro::conn;

namespace {

struct Log {
  std::vector<std::pair<uint64_t, int64_t>> calls;
};

struct Waiting : PendingRequest {
  Waiting(uint64_t id, Log* log, int answersToFinish = 1) : PendingRequest(id), log(log), left(answersToFinish) {}
  bool onResponse(int64_t code, const std::string&) override {
    log->calls.push_back({id(), code});
    return --left <= 0;
  }
  Log* log;
  int left;
};

fwk::counted_ptr<PendingRequest> waiting(uint64_t id, Log* log, int answers = 1) {
  return fwk::counted_ptr<PendingRequest>(new Waiting(id, log, answers));
}

}  // namespace

TEST(ResponseCode, BigEndianBodiesAndSignExtension) {
  EXPECT_EQ(responseCode(0, std::string("\0\0\0\x04", 4)), 4);
  EXPECT_EQ(responseCode(0, std::string("\xff\xff\xff\xff", 4)), -1);
  EXPECT_EQ(responseCode(0, std::string("\x7f\xff\xff\xff\x80\0\0\0", 8)), INT32_MIN);  // low half only
  EXPECT_EQ(responseCode(0, std::string("\0\0\0\x01\0\0\0\x64", 8)), 100);
  EXPECT_EQ(responseCode(0, "abc"), 0);
  EXPECT_EQ(responseCode(0, ""), 0);
  EXPECT_EQ(responseCode(1, std::string("\0\0\0\x04", 4)), 0);  // text answers carry code 0
}

TEST(PendingRequests, AnswersFinishOrKeepRequests) {
  Log log;
  PendingRequests table;
  table.add(waiting(5, &log));
  table.add(waiting(6, &log, 2));
  EXPECT_FALSE(table.answer(7, 0, ""));
  EXPECT_TRUE(table.answer(6, 0, ""));
  EXPECT_TRUE(table.contains(6));  // wants a second answer
  EXPECT_TRUE(table.answer(6, 4, ""));
  EXPECT_FALSE(table.contains(6));
  EXPECT_TRUE(table.answer(5, 9, ""));
  EXPECT_FALSE(table.answer(5, 9, ""));
  EXPECT_EQ(log.calls, (std::vector<std::pair<uint64_t, int64_t>>{{6, 0}, {6, 4}, {5, 9}}));
}

TEST(PendingRequests, ASecondRequestUnderTheSameIdReplacesTheFirst) {
  Log first, second;
  PendingRequests table;
  table.add(waiting(5, &first));
  table.add(waiting(5, &second));
  EXPECT_EQ(table.size(), 1u);
  table.answer(5, 0, "");
  EXPECT_TRUE(first.calls.empty());
  EXPECT_EQ(second.calls.size(), 1u);
}

TEST(PendingRequests, FailAllAnswersEachOnceInIdOrderAndEmptiesTheTable) {
  Log log;
  PendingRequests table;
  table.add(waiting(9, &log, 5));
  table.add(waiting(2, &log));
  table.add(waiting(4, &log, 5));
  table.failAll();
  EXPECT_EQ(log.calls, (std::vector<std::pair<uint64_t, int64_t>>{{2, 100}, {4, 100}, {9, 100}}));
  EXPECT_EQ(table.size(), 0u);
}

namespace {
struct Reentrant : PendingRequest {
  Reentrant(PendingRequests* t, Log* log) : PendingRequest(1), table(t), log(log) {}
  bool onResponse(int64_t code, const std::string&) override {
    log->calls.push_back({1, code});
    table->add(waiting(50, log));  // a follow-up request sent from the answer
    return true;
  }
  PendingRequests* table;
  Log* log;
};
}  // namespace

TEST(PendingRequests, AnswersMayRegisterFollowUps) {
  Log log;
  PendingRequests table;
  table.add(fwk::counted_ptr<PendingRequest>(new Reentrant(&table, &log)));
  table.answer(1, 0, "");
  EXPECT_TRUE(table.contains(50));
  table.add(fwk::counted_ptr<PendingRequest>(new Reentrant(&table, &log)));
  table.failAll();  // the follow-up made during failAll survives for the next link
  EXPECT_EQ(log.calls.size(), 3u);
}

TEST(CallbackPendingRequest, HandsCodeAndTextToTheCallback) {
  struct Seen {
    int64_t code = -5;
    std::string text;
  } seen;
  CallbackPendingRequest r(3, [](void* context, const Response* response) {
    auto* s = static_cast<Seen*>(context);
    s->code = response->code;
    s->text = response->text;
  }, &seen);
  EXPECT_TRUE(r.onResponse(7, "fine"));
  EXPECT_EQ(seen.code, 7);
  EXPECT_EQ(seen.text, "fine");
  EXPECT_TRUE(r.onResponse(100, ""));
  EXPECT_EQ(seen.text, "");
}
