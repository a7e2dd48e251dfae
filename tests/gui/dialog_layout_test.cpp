#include <gtest/gtest.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/tooltip.h>

#include "app/interface_choice.h"
#include "app/window_ids.h"
#include "engine_access.h"
#include "gui_support.h"

namespace kova::test {
namespace {

struct ControlRow {
  const char* name;
  const char* label;  // nullptr: not a labelled control
  int x, y, width, height;
  bool shown;
};

// What the operator sees after start-up, and what stays hidden.
const ControlRow kControls[] = {
    {"ID_BUTTON_About", "About", 432, 112, 100, 24, true},
    {"ID_BUTTON_Quit", "Quit", 432, 136, 100, 24, true},
    {"ID_CHOICE_InterfaceSel", nullptr, 160, 16, 232, 22, true},
    {"ID_STATICTEXT_SubTitleInterface", "Interface :", 24, 16, 120, 24, true},
    {"ID_STATICTEXT_SubTitleMACAddress", "MAC Address :", 24, 48, 120, 24, true},
    {"ID_BUTTON_Start", "Start", 432, 16, 100, 32, true},
    {"ID_TEXTCTRL_MsgList", nullptr, 8, 168, 520, 168, true},
    {"ID_GAUGE_ProgressBar", nullptr, 8, 344, 520, 20, true},
    {"ID_BUTTON_FN1", "FN1", 120, 112, 40, 24, false},
    {"ID_BUTTON_Clear", "Clear", 16, 136, 96, 24, false},
    {"ID_BUTTON_FN2", "FN2", 168, 112, 40, 24, false},
    {"ID_BUTTON_GetAPVersion", "Get Version", 432, 64, 100, 24, true},
    {"ID_BUTTON_ConfigReset", "Config Reset", 432, 88, 100, 24, true},
    {"ID_BUTTON_FN3", "FN3", 216, 112, 40, 24, false},
    {"ID_BUTTON_FN5", "FN5", 312, 112, 40, 24, false},
    {"ID_BUTTON_FN6", "FN6", 120, 136, 40, 24, false},
    {"ID_BUTTON_FN7", "FN7", 216, 136, 40, 24, false},
    {"ID_BUTTON_FN8", "FN8", 168, 136, 40, 24, false},
    {"ID_BUTTON_FN9", "FN9", 264, 136, 40, 24, false},
    {"ID_BUTTON_FN10", "FN10", 312, 136, 40, 24, false},
    {"ID_BUTTON_FN4", "FN4", 264, 112, 40, 24, false},
    {"ID_CHOICE_DelayTimeSel", nullptr, 160, 80, 56, 22, true},
    {"ID_STATICTEXT_SubTitleDelayTime", "Delay time :", 24, 80, 120, 24, true},
    {"ID_TEXTCTRL_KOVAIPAddress", nullptr, 232, 80, 160, 22, false},
    {"ID_TEXTCTRL_KOVAMACAddr1", nullptr, 160, 48, 32, 22, true},
    {"ID_TEXTCTRL_KOVAMACAddr2", nullptr, 200, 48, 32, 22, true},
    {"ID_TEXTCTRL_KOVAMACAddr3", nullptr, 240, 48, 32, 22, true},
    {"ID_TEXTCTRL_KOVAMACAddr4", nullptr, 280, 48, 32, 22, true},
    {"ID_TEXTCTRL_KOVAMACAddr5", nullptr, 320, 48, 32, 22, true},
    {"ID_TEXTCTRL_KOVAMACAddr6", nullptr, 360, 48, 32, 22, true},
};

class DialogLayoutTest : public ::testing::Test {
 protected:
  WorkDir dir;
  DialogHarness ui{dir.path()};
};

TEST_F(DialogLayoutTest, ControlsSitWhereTheOperatorExpectsThem) {
  wxWindow* panel = ui.Find("ID_PANEL_Panel");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->GetSize(), wxSize(549, 371));
  EXPECT_EQ(panel->GetPosition(), wxPoint(5, 5));
  EXPECT_EQ(ui.dialog().GetTitle(), "KOVA Firmware Upgrade Tool");

  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    wxWindow* control = ui.Find(row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->GetParent(), panel);
    EXPECT_EQ(WindowIdName(control->GetId()), row.name);
    EXPECT_EQ(control->GetPosition(), wxPoint(row.x, row.y));
    EXPECT_EQ(control->GetSize(), wxSize(row.width, row.height));
    EXPECT_EQ(control->IsShown(), row.shown);
    if (row.label != nullptr) {
      EXPECT_EQ(control->GetLabel(), row.label);
    }
  }
}

TEST_F(DialogLayoutTest, WindowIdsAreDrawnInListOrderAndNameTheirWindows) {
  const auto& table = WindowIdTable();
  ASSERT_EQ(table.size(), 31u);
  EXPECT_STREQ(table.front().name, "ID_BUTTON_About");
  EXPECT_STREQ(table.back().name, "ID_PANEL_Panel");
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].name);
    if (i > 0) {
      EXPECT_GT(table[i].id, table[i - 1].id);
    }
    wxWindow* window = ui.dialog().FindWindow(table[i].id);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->GetName(), table[i].name);
  }
}

TEST_F(DialogLayoutTest, InputsStartAsTheOperatorLeavesThem) {
  wxChoice* delay = ui.Choice("ID_CHOICE_DelayTimeSel");
  ASSERT_EQ(delay->GetCount(), 20u);
  for (unsigned i = 0; i < delay->GetCount(); ++i) {
    EXPECT_EQ(delay->GetString(i), wxString::Format("%u", i));
  }
  EXPECT_EQ(delay->GetStringSelection(), "0");

  auto* gauge = dynamic_cast<wxGauge*>(ui.Find("ID_GAUGE_ProgressBar"));
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->GetRange(), 100);
  EXPECT_EQ(gauge->GetValue(), 0);

  EXPECT_EQ(ui.Text("ID_TEXTCTRL_KOVAIPAddress")->GetValue(), "192.168.100.100");
  for (int i = 1; i <= 6; ++i) {
    EXPECT_TRUE(ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i))->IsEmpty());
  }
  ASSERT_TRUE(ui.WaitIdle());
  EXPECT_EQ(ui.EnabledOperationButtons(), 5);

  // The interface choice lists the workstation's adapters.
  wxChoice* iface = ui.Choice("ID_CHOICE_InterfaceSel");
  const AdapterTable& adapters = ui.engine().Adapters();
  ASSERT_EQ(static_cast<int>(iface->GetCount()), adapters.Count);
  EXPECT_EQ(ui.engine().InterfaceEntries(), adapters.Count);
  if (adapters.Count > 0) {
    EXPECT_EQ(iface->GetSelection(), 0);
    EXPECT_EQ(iface->GetString(0), wxString::FromUTF8(adapters.AdapterDesc[0]));
  }
}

TEST_F(DialogLayoutTest, TitlesAndButtonsAreBoldAndEntriesPlain) {
  const char* bold[] = {"ID_STATICTEXT_SubTitleInterface", "ID_BUTTON_Start", "ID_BUTTON_Quit",
                        "ID_BUTTON_GetAPVersion"};
  const char* plain[] = {"ID_CHOICE_InterfaceSel", "ID_TEXTCTRL_KOVAMACAddr3",
                         "ID_TEXTCTRL_MsgList", "ID_GAUGE_ProgressBar"};
  for (const char* name : bold) {
    SCOPED_TRACE(name);
    const wxFont font = ui.Find(name)->GetFont();
    EXPECT_EQ(font.GetPointSize(), 9);
    EXPECT_EQ(font.GetWeight(), wxFONTWEIGHT_BOLD);
  }
  for (const char* name : plain) {
    SCOPED_TRACE(name);
    const wxFont font = ui.Find(name)->GetFont();
    EXPECT_EQ(font.GetPointSize(), 9);
    EXPECT_EQ(font.GetWeight(), wxFONTWEIGHT_NORMAL);
  }
}

TEST(InterfaceChoiceTest, ListsTheAdaptersInTableOrderOrSaysThereIsNone) {
  struct Case {
    std::vector<std::string> adapters;
    std::string tooltip;
  };
  const Case cases[] = {
      {{}, "No Ethernet card"},
      {{"eth1"}, "eth1"},
      {{"enp3s0", "eth1", "wlan0"}, "enp3s0"},
  };
  wxDialog parent(nullptr, wxID_ANY, "choices");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tooltip);
    auto* choice = new wxChoice(&parent, wxID_ANY);
    choice->Append("left over");
    AdapterTable table;
    for (size_t i = 0; i < c.adapters.size(); ++i) {
      table.AdapterDesc[i] = c.adapters[i];
    }
    table.Count = static_cast<int32_t>(c.adapters.size());
    FillInterfaceChoice(*choice, table);
    ASSERT_EQ(choice->GetCount(), c.adapters.size());
    for (size_t i = 0; i < c.adapters.size(); ++i) {
      EXPECT_EQ(choice->GetString(i), c.adapters[i]);
    }
    EXPECT_EQ(choice->GetSelection(), c.adapters.empty() ? wxNOT_FOUND : 0);
    ASSERT_NE(choice->GetToolTip(), nullptr);
    EXPECT_EQ(choice->GetToolTipText(), c.tooltip);
  }
}

TEST_F(DialogLayoutTest, FieldsHoldNoMoreThanTheirLimit) {
  struct Case {
    const char* name;
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {"ID_TEXTCTRL_KOVAMACAddr1", "1A2B", "1A"},
      {"ID_TEXTCTRL_KOVAMACAddr6", "5E", "5E"},
      {"ID_TEXTCTRL_KOVAIPAddress", "192.168.100.1000", "192.168.100.100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wxTextCtrl* field = ui.Text(c.name);
    field->Clear();
    // One key at a time, as the operator types.
    for (const char* key = c.typed; *key != '\0'; ++key) {
      field->WriteText(wxString(*key));
    }
    EXPECT_EQ(field->GetValue(), c.kept);
  }
}

}  // namespace
}  // namespace kova::test
