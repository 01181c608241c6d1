// The About box on the headless screen.
#include "about_box.h"
#include "framework/fonts.h"
#include "framework/row.h"
#include "updates_fixture.h"

using namespace updatestest;
namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, std::string>> rowsOf(updates::AboutBox* box) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < box->list()->rowCount(); ++i) {
    auto* row = static_cast<fwk::TwoLineRow*>(box->list()->row(i));
    rows.emplace_back(testkit::narrow(row->title()), testkit::narrow(row->text()));
    EXPECT_TRUE(row->icon()) << rows.back().first;
  }
  return rows;
}

TEST_F(UpdatesTest, AboutListsTheProgramThenTheModulesWithTheirDates) {
  // The test program carries the stamp 1200000000.
  fs::copy_file("/proc/self/exe", folder / "olvaro");
  fs::copy_file("/proc/self/exe", folder / "panorel.so");
  writeFile(folder / "Fake.DLL", "MZ but short");
  writeFile(folder / "readme.txt", "not listed");
  EXPECT_EQ(updates::buildDateText(0), "Unknown Version");
  start();
  KS_EventRaise("core.window.menu.about", nullptr);
  testkit::pump();
  updates::AboutBox* box = updater->notice().aboutBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(testkit::windowText(box->hwnd()), "About");
  EXPECT_EQ(testkit::windowText(box->heading()), "Modules");
  EXPECT_EQ(rowsOf(box), (std::vector<std::pair<std::string, std::string>>{{"olvaro", "2008-01-10 21:20:00"},
                                                                           {"Fake.DLL", "Unknown Version"},
                                                                           {"panorel.so", "2008-01-10 21:20:00"}}));
  RECT heading = testkit::screenRect(box->heading()), list = testkit::screenRect(box->list()->hwnd());
  EXPECT_EQ(heading.bottom - heading.top, fwk::screenDpi() / 5);
  EXPECT_EQ(list.top, heading.bottom);
}

TEST_F(UpdatesTest, AboutTwiceOpensOneBoxAndDoneClosesIt) {
  start();
  KS_EventRaise("core.window.menu.about", nullptr);
  KS_EventRaise("core.window.menu.about", nullptr);
  testkit::pump();
  EXPECT_EQ(testkit::findWindows("", "About").size(), 1u);
  updates::AboutBox* box = updater->notice().aboutBox();
  ASSERT_TRUE(box);
  SendMessage(box->hwnd(), WM_COMMAND, IDOK, 0);
  testkit::pump();
  EXPECT_FALSE(updater->notice().aboutBox());
  EXPECT_TRUE(testkit::findWindows("", "About").empty());
  KS_EventRaise("core.window.menu.about", nullptr);
  testkit::pump();
  EXPECT_TRUE(updater->notice().aboutBox());
}

}  // namespace
