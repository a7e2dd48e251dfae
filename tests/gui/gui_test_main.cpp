// Runs the GoogleTest cases inside an initialised toolkit: a display is
// needed (the tests run under xvfb-run), and any toolkit assertion fails the
// running test.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>

namespace {

void FailOnToolkitAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                         const wxString& msg) {
  ADD_FAILURE_AT(file.utf8_str().data(), line)
      << "toolkit assertion in " << func.utf8_string() << ": " << cond.utf8_string() << " "
      << msg.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) {
    return RUN_ALL_TESTS();
  }
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "the toolkit did not start (no display?)\n");
    return 1;
  }
  wxSetAssertHandler(FailOnToolkitAssert);
  const int result = RUN_ALL_TESTS();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
