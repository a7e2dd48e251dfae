// The operator must be able to read what he typed and chose: at the dialog's
// fixed sizes the toolkit's own padding can push text out of a control. The
// checks compare the pixel extent of the text, in the control's font, with
// the area that the native widget keeps for its text.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <ostream>

#include "gui_support.h"

namespace kova::test {
namespace {

struct Area {
  int x, y, width, height;
};

std::ostream& operator<<(std::ostream& os, const Area& a) {
  return os << a.width << "x" << a.height << "+" << a.x << "+" << a.y;
}

GtkWidget* NativeOf(wxWindow* window) {
  return static_cast<GtkWidget*>(window->GetHandle());
}

// `area` of `inner` expressed in the coordinates of `outer`.
Area AreaIn(GtkWidget* inner, Area area, GtkWidget* outer) {
  int x = 0;
  int y = 0;
  gtk_widget_translate_coordinates(inner, outer, area.x, area.y, &x, &y);
  return {x, y, area.width, area.height};
}

Area WholeOf(GtkWidget* widget) {
  return {0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget)};
}

// The text must lie in the area kept for it, and that area in the control.
void ExpectTextFits(wxWindow* control, const wxString& text, Area textArea) {
  const Area whole = WholeOf(NativeOf(control));
  const wxSize extent = control->GetTextExtent(text);
  SCOPED_TRACE(testing::Message() << "text \"" << text.utf8_string() << "\" " << extent.x << "x"
                                  << extent.y << " in " << textArea << " of " << whole);
  EXPECT_GE(textArea.x, 0);
  EXPECT_GE(textArea.y, 0);
  EXPECT_LE(textArea.x + textArea.width, whole.width);
  EXPECT_LE(textArea.y + textArea.height, whole.height);
  EXPECT_LE(extent.x, textArea.width);
  EXPECT_LE(extent.y, textArea.height);
}

class DialogTextFitTest : public ::testing::Test {
 protected:
  WorkDir dir;
  DialogHarness ui{dir.path()};

  void SetUp() override {
    // Sizes are known once the toolkit has allocated them.
    ASSERT_TRUE(PumpUntil([this] {
      return gtk_widget_get_allocated_height(NativeOf(ui.Find("ID_CHOICE_DelayTimeSel"))) > 1;
    }));
  }
};

TEST_F(DialogTextFitTest, TypedMacBytesFitTheirFields) {
  // Wide capitals and digits, two of them the ones that were cut to "2E"
  // and "4[".
  const char* mac[] = {"2B", "4D", "0E", "8F", "DD", "C0"};
  for (int i = 0; i < 6; ++i) {
    wxTextCtrl* field = ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i + 1));
    ASSERT_NE(field, nullptr);
    field->SetFocus();
    field->Clear();
    for (const char* key = mac[i]; *key != '\0'; ++key) {
      field->WriteText(wxString(*key));
    }
  }
  PumpFor(50ms);
  for (int i = 0; i < 6; ++i) {
    wxTextCtrl* field = ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i + 1));
    SCOPED_TRACE(field->GetName().utf8_string());
    ASSERT_EQ(field->GetValue(), mac[i]);
    GdkRectangle text;
    gtk_entry_get_text_area(GTK_ENTRY(NativeOf(field)), &text);
    ExpectTextFits(field, field->GetValue(), {text.x, text.y, text.width, text.height});
  }
}

TEST_F(DialogTextFitTest, ChosenItemsFitTheirChoices) {
  wxChoice* iface = ui.Choice("ID_CHOICE_InterfaceSel");
  if (iface->GetCount() == 0) {
    // A workstation without adapters: a name as long as a usual one.
    iface->Append("enp0s31f6");
    iface->SetSelection(0);
  }
  wxChoice* delay = ui.Choice("ID_CHOICE_DelayTimeSel");
  Choose(delay, 19);
  PumpFor(50ms);
  for (wxChoice* choice : {iface, delay}) {
    SCOPED_TRACE(choice->GetName().utf8_string());
    GtkWidget* combo = NativeOf(choice);
    // The item on show is drawn by the combo box's cell view.
    GtkWidget* cell = gtk_bin_get_child(GTK_BIN(combo));
    ASSERT_TRUE(GTK_IS_CELL_VIEW(cell));
    int needed = 0;
    gtk_widget_get_preferred_height(cell, &needed, nullptr);
    const Area area = AreaIn(cell, WholeOf(cell), combo);
    EXPECT_GE(area.height, needed);
    ExpectTextFits(choice, choice->GetStringSelection(), area);
  }
}

}  // namespace
}  // namespace kova::test
