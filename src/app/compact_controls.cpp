#include "app/compact_controls.h"

#ifdef __WXGTK3__
#include <gtk/gtk.h>
#endif

namespace kova {

#ifdef __WXGTK3__

namespace {

// Vertical room goes to the text; a little stays at the sides so that the
// text does not touch the frame.
constexpr const char* kCompactCss =
    "entry { min-height: 0; padding: 0 2px; }"
    "combobox button { min-height: 0; padding: 0 4px; }";

GtkCssProvider* CompactProvider() {
  static GtkCssProvider* const provider = [] {
    GtkCssProvider* p = gtk_css_provider_new();
    gtk_css_provider_load_from_data(p, kCompactCss, -1, nullptr);
    return p;
  }();
  return provider;
}

// A provider reaches only the style context it is added to, so the inner
// widgets of a combo box (its button and cell view) each need it too.
void AddProviderTree(GtkWidget* widget, gpointer provider) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), AddProviderTree, provider);
  }
}

}  // namespace

void CompactNativeControl(wxWindow& control) {
  AddProviderTree(static_cast<GtkWidget*>(control.GetHandle()), CompactProvider());
}

#else

void CompactNativeControl(wxWindow&) {}

#endif

}  // namespace kova
