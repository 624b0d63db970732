// The About form: its controls, its text, and the pages it opens.
#include "about/frm_ug.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/entry_points.hpp"
#include "platform/memory/headless_toolkit.hpp"

namespace qmv {
namespace {

using memory::HeadlessToolkit;

// Records the owner window as well as the address.
class OwnerRecordingShell : public Shell {
 public:
  void openAddress(std::uintptr_t ownerWindow, const std::u16string& address) override {
    opened.emplace_back(ownerWindow, address);
  }
  std::vector<std::pair<std::uintptr_t, std::u16string>> opened;
};

class AboutTest : public ::testing::Test {
 protected:
  memory::QueuedUser user;
  HeadlessToolkit toolkit{user};
  OwnerRecordingShell shell;
  AddinModule module{toolkit, shell};

  int eventsOf(memory::HeadlessEventKind kind) const {
    int count = 0;
    for (const auto& event : toolkit.events()) count += event.kind == kind ? 1 : 0;
    return count;
  }
};

std::size_t occurrences(const std::u16string& text, std::u16string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::u16string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(AboutTest, FormHasItsCaptionAndControlsInStoredOrder) {
  frmUG form(module);
  EXPECT_EQ(form.name(), "frmUG");
  EXPECT_EQ(form.caption(), u"About Vandrel QMV v1.1");
  const std::pair<const char*, ControlKind> expected[] = {
      {"Label2", ControlKind::Label}, {"Shape1", ControlKind::Shape},
      {"Line1", ControlKind::Line},   {"Label21", ControlKind::Label},
      {"Label1", ControlKind::Label}, {"Shape2", ControlKind::Shape},
      {"Image1", ControlKind::Image},
  };
  ASSERT_EQ(form.controls().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(form.controls()[i]->name(), expected[i].first);
    EXPECT_EQ(form.controls()[i]->kind(), expected[i].second);
  }
  EXPECT_EQ(form.Label1.caption(),
            u"Vandrel QMV is a valuable addin to automate text removing task for Excel with "
            u"quality and speed");
  EXPECT_EQ(form.Label1.fontName, u"Trebuchet MS");
  EXPECT_EQ(form.Label2.fontName, u"Trebuchet MS");
  EXPECT_TRUE(form.Label21.onClick);
  EXPECT_TRUE(form.Image1.onClick);
}

TEST_F(AboutTest, LoadedTextHasTheFeedbackRequestAfterTwoLineBreaks) {
  frmUG form(module);
  const std::u16string& text = form.Label2.caption();
  const std::u16string description =
      u"Vandrel QMV is a powerful Excel Add-In. QMV stands for Dolvani. It removes text from "
      u"Excel Cells with different criteria and conditions. With Vandrel QMV you can work with as "
      u"many cells as you want in a single process. It is designed to give you a user friendly "
      u"environment with lightning speed and quality results. It saves your precious time and "
      u"money. In brief, Vandrel QMV is a valuable addin to automate text removing task for "
      u"Excel with quality and speed. We can say every Excel user must have Vandrel QMV to use "
      u"hidden power of Excel.";
  const std::u16string feedback = u"Please send your Feedback and Advice to us at : ";

  ASSERT_EQ(text.substr(0, description.size()), description);
  EXPECT_EQ(text.substr(description.size(), 4), u"\r\n\r\n");
  EXPECT_EQ(text.substr(description.size() + 4, feedback.size()), feedback);
  EXPECT_EQ(text.substr(description.size() + 4 + feedback.size(), 2), u"\r\n");
  const std::u16string contact = text.substr(description.size() + 4 + feedback.size() + 2);
  EXPECT_EQ(contact,
            u"support@vandrel-qmv.example or visit https://vandrel-qmv.example/ for "
            u"more info");
  EXPECT_EQ(occurrences(text, u"\r\n"), 3u);
  EXPECT_EQ(occurrences(text, u"\r"), 3u);
  EXPECT_EQ(occurrences(text, u"\n"), 3u);
  EXPECT_EQ(text, aboutText());
}

TEST_F(AboutTest, AddressesArePlaceholdersUnderTheProjectsName) {
  const std::u16string_view addresses[] = {about::kUserGuideAddress, about::kHomeAddress,
                                           about::kContactMail, about::kWebSite};
  for (std::u16string_view address : addresses) {
    SCOPED_TRACE(std::string(address.begin(), address.end()));
    EXPECT_NE(address.find(u"vandrel-qmv.example"), std::u16string_view::npos);
  }
  frmUG form(module);
  EXPECT_NE(form.Label21.caption().find(u"vandrel-qmv.example"), std::u16string::npos);
}

TEST_F(AboutTest, ClickableElementsOpenTheirPagesOwnedByTheFormsWindow) {
  struct Row {
    const char* control;
    std::u16string_view address;
  };
  const Row rows[] = {{"Image1", about::kUserGuideAddress}, {"Label21", about::kHomeAddress}};
  frmUG form(module);
  const std::uintptr_t window = toolkit.windowHandle(form);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control);
    shell.opened.clear();
    form.control(row.control).click();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened.front().first, window);
    EXPECT_EQ(shell.opened.front().second, row.address);
  }
}

TEST_F(AboutTest, UserGuideWhenTheFormWasNeverShownOpensNoWindow) {
  openUserGuide(module);
  ASSERT_EQ(shell.opened.size(), 1u);
  EXPECT_EQ(shell.opened.front().second, about::kUserGuideAddress);
  ASSERT_TRUE(module.ug);
  EXPECT_EQ(shell.opened.front().first, toolkit.windowHandle(*module.ug));
  EXPECT_EQ(eventsOf(memory::HeadlessEventKind::FormShown), 0);
  EXPECT_EQ(eventsOf(memory::HeadlessEventKind::FormLoaded), 1);
  EXPECT_TRUE(module.ug->loaded());
}

TEST_F(AboutTest, AboutShowsTheFormModallyUntilClosed) {
  bool shownWhileRunning = false;
  user.then([&](HeadlessToolkit& tk, Form& shown) {
    shownWhileRunning = shown.name() == "frmUG" && tk.isShown(shown);
    tk.close();
  });
  showAbout(module);
  EXPECT_TRUE(shownWhileRunning);
  EXPECT_EQ(user.pending(), 0u);
  ASSERT_TRUE(module.ug);
  EXPECT_FALSE(module.ug->loaded());
  EXPECT_TRUE(toolkit.shownForms().empty());
  EXPECT_TRUE(shell.opened.empty());
}

}  // namespace
}  // namespace qmv
