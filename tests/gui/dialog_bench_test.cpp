// The dialog on a production bench: a MAC scanned or pasted, the firmware
// folder found when the tool is started from the desktop menu, and a close
// that would abandon an upgrade.

#include <gtest/gtest.h>
#include <wx/clipbrd.h>

#include <array>
#include <memory>
#include <string>

#include "engine_access.h"
#include "fake_neighbour_table.h"
#include "fake_net.h"
#include "gui_support.h"

namespace kova::test {
namespace {

wxTextCtrl* MacField(DialogHarness& ui, int index) {
  return ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(index + 1));
}

std::array<std::string, 6> MacTexts(DialogHarness& ui) {
  std::array<std::string, 6> texts;
  for (int i = 0; i < 6; ++i) {
    texts[i] = MacField(ui, i)->GetValue().utf8_string();
  }
  return texts;
}

// Keystrokes as a scanner sends them: each to the window that has the focus.
void Type(const std::string& text) {
  for (const char c : text) {
    wxWindow* target = wxWindow::FindFocus();
    ASSERT_NE(target, nullptr);
    wxKeyEvent key(wxEVT_CHAR);
    key.m_keyCode = c;
    key.m_uniChar = static_cast<wxChar>(c);
    key.SetEventObject(target);
    key.SetId(target->GetId());
    target->ProcessWindowEvent(key);
  }
}

void PressEnter(wxWindow* target) {
  wxKeyEvent key(wxEVT_KEY_DOWN);
  key.m_keyCode = WXK_RETURN;
  key.SetEventObject(target);
  target->ProcessWindowEvent(key);
}

void Paste(wxTextCtrl* field, const std::string& text) {
  ASSERT_TRUE(wxTheClipboard->Open());
  wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
  wxTheClipboard->Close();
  wxClipboardTextEvent paste(wxEVT_TEXT_PASTE, field->GetId());
  paste.SetEventObject(field);
  field->ProcessWindowEvent(paste);
}

bool OperationEnds(DialogHarness& ui, int count) {
  return PumpUntil(
             [&] { return ui.engine().OperationsEnded() == count && ui.engine().IsIdle(); }) &&
         (PumpFor(200ms), true);
}

const std::array<std::string, 6> kScanned = {"00", "1A", "2B", "3C", "4D", "5E"};

class DialogBenchTest : public ::testing::Test {
 protected:
  DialogBenchTest() { dir.WriteConfig("ENABLE", "0"); }
  ConfigHome home;
  WorkDir dir;
};

TEST_F(DialogBenchTest, AWholeMacPastedIntoTheFirstFieldFillsTheSix) {
  const struct {
    const char* pasted;
    bool spread;
  } cases[] = {
      {"00:1A:2B:3C:4D:5E", true},
      {"00-1A-2B-3C-4D-5E\n", true},
      {" 001A2B3C4D5E ", true},
      {"00:1A:2B:3C:4D", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pasted);
    DialogHarness ui(dir.path());
    Paste(MacField(ui, 0), c.pasted);
    const std::array<std::string, 6> untouched{};
    EXPECT_EQ(MacTexts(ui), c.spread ? kScanned : untouched);
  }
}

TEST_F(DialogBenchTest, ScannedKeystrokesMoveOnEveryTwoDigitsAndEnterStarts) {
  for (const char* scanned : {"001A2B3C4D5E", "00:1A:2B:3C:4D:5E", "00-1A-2B-3C-4D-5E"}) {
    SCOPED_TRACE(scanned);
    DialogHarness ui(dir.path());
    ASSERT_TRUE(ui.WaitIdle());
    MacField(ui, 0)->SetFocus();
    PumpFor(20ms);
    Type(std::string(scanned).substr(0, 2));
    EXPECT_EQ(wxWindow::FindFocus(), MacField(ui, 1));
    Type(std::string(scanned).substr(2));
    EXPECT_EQ(MacTexts(ui), kScanned);

    PressEnter(wxWindow::FindFocus());
    ASSERT_TRUE(OperationEnds(ui, 1));
    EXPECT_NE(ui.MessageList().find("Load upgarde file ... Successful !"), std::string::npos);
    // Ready for the next board: the first field has the focus, and the next
    // scan replaces what is there.
    EXPECT_EQ(wxWindow::FindFocus(), MacField(ui, 0));
    Type("02");
    EXPECT_EQ(MacField(ui, 0)->GetValue(), "02");
    EXPECT_EQ(wxWindow::FindFocus(), MacField(ui, 1));
  }
}

TEST_F(DialogBenchTest, AMacThatDoesNotParseStartsNothingAndMarksItsField) {
  const struct {
    std::array<std::string, 6> fields;
    std::array<bool, 6> marked;
  } cases[] = {
      {{"00", "1G", "2B", "3C", "4D", "5E"}, {false, true, false, false, false, false}},
      {{"00", "1A", "", "3C", "4D", "5E"}, {false, false, true, false, false, false}},
      {{"0", "00", "00", "00", "0", "00"}, {true, true, true, true, true, true}},
  };
  for (const auto& c : cases) {
    DialogHarness ui(dir.path());
    ASSERT_TRUE(ui.WaitIdle());
    for (int i = 0; i < 6; ++i) {
      MacField(ui, i)->ChangeValue(c.fields[i]);
    }
    Click(ui.Button("ID_BUTTON_Start"));
    ASSERT_TRUE(OperationEnds(ui, 1));
    EXPECT_EQ(ui.engine().LastReason(), FailReason::kBadInput);
    ASSERT_EQ(ui.boxes().size(), 1u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(ui.dialog().MacFieldMarked(i), c.marked[i]) << "field " << i + 1;
    }
    MacField(ui, 2)->SetValue("2B");
    EXPECT_FALSE(ui.dialog().MacFieldMarked(2));
  }
}

TEST_F(DialogBenchTest, WithoutTheConfigurationTheFolderIsAskedForAndRemembered) {
  WorkDir menuStart;  // the folder the desktop menu starts the tool in
  {
    DialogHarness ui(menuStart.path());
    ASSERT_TRUE(ui.WaitIdle());
    Click(ui.Button("ID_BUTTON_GetAPVersion"));  // Cancel: the load fails, naming the file
    ASSERT_TRUE(OperationEnds(ui, 1));
    ASSERT_EQ(ui.folderAsks().size(), 1u);
    EXPECT_EQ(ui.folderAsks()[0], menuStart.path());
    EXPECT_NE(ui.MessageList().find("Failed !======\n " + menuStart.path() +
                                    "/KOVA_Config.cfg: no such file !"),
              std::string::npos)
        << ui.MessageList();

    ui.AnswerFolder(dir.path());
    Click(ui.Button("ID_BUTTON_GetAPVersion"));
    ASSERT_TRUE(OperationEnds(ui, 2));
    EXPECT_EQ(ui.folderAsks().size(), 2u);
    EXPECT_NE(ui.MessageList().find("Load upgarde file ... Successful !"), std::string::npos);
  }
  EXPECT_NE(home.SettingsText().find("firmware-folder=" + dir.path() + "\n"), std::string::npos);

  DialogHarness next(menuStart.path());
  ASSERT_TRUE(next.WaitIdle());
  Click(next.Button("ID_BUTTON_GetAPVersion"));
  ASSERT_TRUE(OperationEnds(next, 1));
  EXPECT_TRUE(next.folderAsks().empty());
  EXPECT_NE(next.MessageList().find("Load upgarde file ... Successful !"), std::string::npos);
}

TEST_F(DialogBenchTest, ClosingMidUpgradeAsksFirst) {
  const struct {
    bool answer;
    bool force;
    size_t asked;
    bool closed;
  } cases[] = {
      {false, false, 1, false},
      {true, false, 1, true},
      {false, true, 0, true},
  };
  dir.WriteConfig("DISABLE");
  dir.WriteImage(true, false);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "answer " << c.answer << ", forced " << c.force);
    // No board answers: the upgrade waits for one.
    auto net = std::make_unique<FakeNet>();
    net->waitBlocks = true;
    DialogHarness ui(
        dir.path(), nullptr,
        [](Engine& engine) {
          EngineTestAccess::Adapters(engine).AdapterDesc[0] = "eth1";
          EngineTestAccess::Adapters(engine).AdapterIP[0] = {192, 168, 100, 1};
          EngineTestAccess::Adapters(engine).Count = 1;
          engine.SetInterfaceCount(1);
          engine.SelectInterface(0);
        },
        std::move(net), std::make_unique<FakeNeighbourTable>());
    ui.AnswerQuestions(c.answer);
    for (int i = 0; i < 6; ++i) {
      MacField(ui, i)->ChangeValue(kScanned[i]);
    }
    ASSERT_TRUE(ui.WaitIdle());
    Click(ui.Button("ID_BUTTON_Start"));
    ASSERT_TRUE(PumpUntil([&] { return ui.EnabledOperationButtons() == 0; }));

    EXPECT_EQ(ui.dialog().Close(c.force), c.closed);
    EXPECT_EQ(ui.questions().size(), c.asked);
    EXPECT_EQ(ui.engine().IsIdle(), c.closed);
    EXPECT_EQ(ui.dialog().UiTimerRunning(), !c.closed);
    // A close while idle never asks.
    ui.dialog().ShutdownAll();
    EXPECT_TRUE(ui.dialog().Close());
    EXPECT_EQ(ui.questions().size(), c.asked);
  }
}

}  // namespace
}  // namespace kova::test
