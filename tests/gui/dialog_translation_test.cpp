// The dialog in the operator's language: the catalogues built next to the
// test program (build/locale) are the ones the installed dialog loads from
// share/locale. Labels that a translation makes longer must still fit.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/translations.h"
#include "gui_support.h"

namespace kova::test {
namespace {

// Sets the language variables for one test and puts back what was there.
class LanguageEnvironment {
 public:
  explicit LanguageEnvironment(const std::string& language) {
    for (const char* name : {"LANGUAGE", "LANG", "LC_ALL", "LC_MESSAGES"}) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
      unsetenv(name);
    }
    setenv("LANGUAGE", language.c_str(), 1);
    setenv("LANG", (language + ".UTF-8").c_str(), 1);
  }
  ~LanguageEnvironment() {
    for (const Saved& s : saved_) {
      if (s.set) {
        setenv(s.name, s.value.c_str(), 1);
      } else {
        unsetenv(s.name);
      }
    }
    // Back to the untranslated literals for the tests that follow.
    wxTranslations::Set(nullptr);
  }
  LanguageEnvironment(const LanguageEnvironment&) = delete;
  LanguageEnvironment& operator=(const LanguageEnvironment&) = delete;

 private:
  struct Saved {
    const char* name;
    bool set;
    std::string value;
  };
  std::vector<Saved> saved_;
};

wxString ProgramDir() {
  return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
}

GtkWidget* NativeOf(wxWindow* window) {
  return static_cast<GtkWidget*>(window->GetHandle());
}

struct Label {
  const char* name;
  const char* english;
  const char* german;
};

const Label kShownLabels[] = {
    {"ID_STATICTEXT_SubTitleInterface", "Interface :", "Schnittstelle :"},
    {"ID_STATICTEXT_SubTitleMACAddress", "MAC Address :", "MAC-Adresse :"},
    {"ID_STATICTEXT_SubTitleDelayTime", "Delay time :", "Verzögerung :"},
    {"ID_BUTTON_Start", "Start", "Start"},
    {"ID_BUTTON_GetAPVersion", "Get Version", "Version lesen"},
    {"ID_BUTTON_ConfigReset", "Config Reset", "Zurücksetzen"},
    {"ID_BUTTON_About", "About", "Info"},
    {"ID_BUTTON_Quit", "Quit", "Beenden"},
};

TEST(DialogTranslationTest, LabelsAndCaptionsFollowTheLanguageThatHasACatalogue) {
  const struct {
    const char* language;
    bool catalogue;
  } cases[] = {{"de", true}, {"fr", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    LanguageEnvironment env(c.language);
    EXPECT_EQ(LoadTranslations(ProgramDir()), c.catalogue);
    WorkDir dir;
    DialogHarness ui(dir.path());
    for (const Label& label : kShownLabels) {
      EXPECT_EQ(ui.Find(label.name)->GetLabel().utf8_string(),
                c.catalogue ? label.german : label.english);
    }
    // Captions the engine passes as written, looked up by the panel.
    EXPECT_EQ(wxGetTranslation("Warining...").utf8_string(),
              c.catalogue ? "Warnung..." : "Warining...");
    EXPECT_EQ(wxGetTranslation("KOVA Upgrade...").utf8_string(),
              c.catalogue ? "KOVA-Aktualisierung..." : "KOVA Upgrade...");
    // The title and the messages are the system's own.
    EXPECT_EQ(ui.dialog().GetTitle(), "KOVA Firmware Upgrade Tool");
  }
}

// The room a control has for its text: a static text's whole width; a
// button's inside its frame (the label may run into the padding, as the
// dialog's fixed button widths already make the English ones do).
int TextRoom(wxWindow* control) {
  GtkWidget* native = NativeOf(control);
  const int width = gtk_widget_get_allocated_width(native);
  if (!GTK_IS_BUTTON(native)) {
    return width;
  }
  GtkStyleContext* style = gtk_widget_get_style_context(native);
  GtkBorder border{};
  gtk_style_context_get_border(style, gtk_style_context_get_state(style), &border);
  return width - border.left - border.right;
}

TEST(DialogTranslationTest, GermanLabelsFitTheirControls) {
  LanguageEnvironment env("de");
  ASSERT_TRUE(LoadTranslations(ProgramDir()));
  WorkDir dir;
  DialogHarness ui(dir.path());
  ASSERT_TRUE(PumpUntil([&ui] {
    return gtk_widget_get_allocated_width(NativeOf(ui.Find("ID_BUTTON_ConfigReset"))) > 1;
  }));
  for (const Label& row : kShownLabels) {
    wxWindow* control = ui.Find(row.name);
    const wxString label = control->GetLabel();
    EXPECT_LE(control->GetTextExtent(label).x, TextRoom(control))
        << row.name << " \"" << label.utf8_string() << "\"";
  }
}

TEST(DialogIconTest, TheDialogCarriesTheToolsIconAtTheUsualSizes) {
  WorkDir dir;
  DialogHarness ui(dir.path());
  const wxIconBundle icons = ui.dialog().GetIcons();
  for (int size : {16, 32, 48}) {
    SCOPED_TRACE(size);
    const wxIcon icon = icons.GetIconOfExactSize(wxSize(size, size));
    ASSERT_TRUE(icon.IsOk());
    EXPECT_EQ(icon.GetWidth(), size);
  }
}

}  // namespace
}  // namespace kova::test
