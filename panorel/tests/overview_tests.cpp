#include "panorel_fixture.h"

namespace panoreltest {

std::vector<std::string> PanorelTest::rowNames(panorel::SectionView* view) {
  std::vector<std::string> names;
  for (int i = 0; i < view->rowCount(); ++i) {
    fwk::Row* row = view->row(i);
    if (auto* two = dynamic_cast<fwk::TwoLineRow*>(row)) {
      names.push_back(testkit::narrow(two->title()));
    } else if (auto* contact = dynamic_cast<panorel::ContactRow*>(row)) {
      names.push_back(contact->nickname());
    } else if (dynamic_cast<panorel::GroupChatRow*>(row)) {
      names.push_back("<group chat>");
    } else {
      names.push_back("[header]");
    }
  }
  return names;
}

namespace {

TEST_F(PanorelTest, Starts) {
  start();
  ASSERT_TRUE(list->overview());
  EXPECT_EQ(list->tabs().tabCount(), 2);
  testkit::saveScreenshot("panorel_overview_signed_out");
}

}  // namespace
}  // namespace panoreltest
