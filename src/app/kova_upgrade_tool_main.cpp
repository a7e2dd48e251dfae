#include "app/kova_upgrade_tool_main.h"

#include <wx/clipbrd.h>
#include <wx/dirdlg.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/font.h>
#include <wx/fontenum.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "app/app_icon.h"
#include "app/compact_controls.h"
#include "app/interface_choice.h"
#include "app/window_ids.h"
#include "common/action_codes.h"
#include "controller/operator_input.h"
#include "frontend/mac_text.h"

namespace kova {

namespace {

constexpr int kUiTimerId = 1;
constexpr int kUiTimerPeriodMs = 100;
constexpr int kDelayChoices = 20;
constexpr int kDelayIdleMs = 5;
constexpr int kMacFieldLength = 2;
constexpr int kIPFieldLength = 15;
constexpr const char* kDefaultDeviceIP = "192.168.100.100";
constexpr const char* kFontFace = "DotumChe";
constexpr const char* kConfigFileName = "KOVA_Config.cfg";
// The background of a MAC field that did not parse, until it is edited.
wxColour BadFieldColour() {
  return wxColour(255, 190, 190);
}

wxButton* MakeButton(wxWindow* parent, wxWindowID id, const wxString& label, int x, int y,
                     int width, int height) {
  return new wxButton(parent, id, label, wxPoint(x, y), wxSize(width, height), 0,
                      wxDefaultValidator, WindowIdName(id));
}

wxStaticText* MakeLabel(wxWindow* parent, wxWindowID id, const wxString& label, int x, int y) {
  return new wxStaticText(parent, id, label, wxPoint(x, y), wxSize(120, 24), 0, WindowIdName(id));
}

wxTextCtrl* MakeField(wxWindow* parent, wxWindowID id, const wxString& value, int x, int y,
                      int width) {
  return new wxTextCtrl(parent, id, value, wxPoint(x, y), wxSize(width, 22), 0, wxDefaultValidator,
                        WindowIdName(id));
}

// Where the face is not installed the toolkit picks one of the same family.
wxFont DialogFont(wxFontWeight weight) {
  const wxString face = wxFontEnumerator::IsValidFacename(kFontFace) ? wxString(kFontFace) : "";
  return wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, weight, false, face,
                wxFONTENCODING_DEFAULT);
}

void ShowToolkitMessageBox(const wxString& text, const wxString& caption) {
  wxMessageBox(text, caption, wxOK | wxCENTRE, nullptr);
}

bool AskWithToolkit(const wxString& text, const wxString& caption) {
  return wxMessageBox(text, caption, wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION | wxCENTRE,
                      nullptr) == wxYES;
}

std::string ChooseFolderWithToolkit(const std::string& start) {
  wxDirDialog chooser(nullptr, _("Choose the folder that holds KOVA_Config.cfg"),
                      wxString::FromUTF8(start), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  return chooser.ShowModal() == wxID_OK ? chooser.GetPath().utf8_string() : std::string();
}

bool HoldsConfig(const std::string& folder) {
  return !folder.empty() &&
         wxFileName::FileExists(
             wxFileName(wxString::FromUTF8(folder), kConfigFileName).GetFullPath());
}

// One field as the engine reads it: one or two hexadecimal digits.
bool MacFieldParses(const std::string& field) {
  const std::array<std::string, 6> alone = {field, "01", "01", "01", "01", "01"};
  uint8_t mac[6];
  return ReadMACFields(alone, mac) == 1;
}

constexpr const char* kProgram = "kova-upgrade-tool";

// The log is for people; an operator is not stopped for it.
void WarnOnStderr(const std::string& text) {
  std::fprintf(stderr, "%s: warning: %s\n", kProgram, text.c_str());
}

// The fields as typed, for the log; empty when none was filled in.
std::string MacText(const std::array<std::string, 6>& fields) {
  std::string text;
  bool typed = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    text += (i == 0 ? "" : ":") + wxString::FromUTF8(fields[i]).Upper().utf8_string();
    typed = typed || !fields[i].empty();
  }
  return typed ? text : "";
}

}  // namespace

KOVA_UpgradeToolDialog::KOVA_UpgradeToolDialog(wxWindow* parent, wxWindowID id,
                                               DialogOptions options)
    : messageBox_(options.messageBox ? std::move(options.messageBox)
                                     : MessageBoxFunction(ShowToolkitMessageBox)),
      question_(options.question ? std::move(options.question) : QuestionFunction(AskWithToolkit)),
      chooseFolder_(options.chooseFolder ? std::move(options.chooseFolder)
                                         : FolderFunction(ChooseFolderWithToolkit)),
      givenFolder_(options.workDir),
      settings_(DialogSettingsPath()),
      beforeThreadsStart_(std::move(options.beforeThreadsStart)),
      panel_(*this, *this),
      log_(std::make_unique<OperationLog>(
          options.logDirectory.empty() ? OperationLog::DefaultDirectory() : options.logDirectory,
          LogLimits{},
          [this](const std::string& text) {
            WarnOnStderr(text);
            if (logWarningsShown_.load()) {
              logged_.ShowWarning("warning: " + text);
            }
          })),
      logged_(panel_, log_.get()),
      engine_(logged_, options.workDir, std::move(options.net), std::move(options.neighbours)),
      lock_(options.lockDirectory) {
  Create(parent, id, _("wxWidgets app"), wxDefaultPosition, wxDefaultSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX, "wxID_ANY");
  SetIcons(AppIcons());
  SetClientSize(wxSize(560, 473));
  BoxSizer = new wxBoxSizer(wxHORIZONTAL);
  Panel = new wxPanel(this, ID_PANEL_Panel, wxDefaultPosition, wxSize(549, 371), wxTAB_TRAVERSAL,
                      WindowIdName(ID_PANEL_Panel));
  CreateControls();
  BoxSizer->Add(Panel, 1,
                wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL | wxFIXED_MINSIZE, 5);
  SetSizer(BoxSizer);
  BoxSizer->SetSizeHints(this);
  ConnectEvents();
  InitialiseDialog();
}

KOVA_UpgradeToolDialog::~KOVA_UpgradeToolDialog() {
  ShutdownAll();
  // The list is going away; what the log still has to say goes to stderr.
  logWarningsShown_.store(false);
  panel_.Detach();
}

void KOVA_UpgradeToolDialog::CreateControls() {
  wxWindow* p = Panel;
  Button_About = MakeButton(p, ID_BUTTON_About, _("About"), 432, 112, 100, 24);
  Button_Quit = MakeButton(p, ID_BUTTON_Quit, _("Quit"), 432, 136, 100, 24);
  Choice_InterfaceSel =
      new wxChoice(p, ID_CHOICE_InterfaceSel, wxPoint(160, 16), wxSize(232, 22), 0, nullptr, 0,
                   wxDefaultValidator, WindowIdName(ID_CHOICE_InterfaceSel));
  StaticText_SubTitleInterface =
      MakeLabel(p, ID_STATICTEXT_SubTitleInterface, _("Interface :"), 24, 16);
  StaticText_SubTitleMACAddress =
      MakeLabel(p, ID_STATICTEXT_SubTitleMACAddress, _("MAC Address :"), 24, 48);
  Button_Start = MakeButton(p, ID_BUTTON_Start, _("Start"), 432, 16, 100, 32);
  TextCtrl_MsgList =
      new wxTextCtrl(p, ID_TEXTCTRL_MsgList, wxEmptyString, wxPoint(8, 168), wxSize(520, 168),
                     wxTE_MULTILINE, wxDefaultValidator, WindowIdName(ID_TEXTCTRL_MsgList));
  Gauge_ProgressBar = new wxGauge(p, ID_GAUGE_ProgressBar, 100, wxPoint(8, 344), wxSize(520, 20), 0,
                                  wxDefaultValidator, WindowIdName(ID_GAUGE_ProgressBar));
  Button_FN1 = MakeButton(p, ID_BUTTON_FN1, _("FN1"), 120, 112, 40, 24);
  Button_Clear = MakeButton(p, ID_BUTTON_Clear, _("Clear"), 16, 136, 96, 24);
  Button_FN2 = MakeButton(p, ID_BUTTON_FN2, _("FN2"), 168, 112, 40, 24);
  Button_GetAPVersion = MakeButton(p, ID_BUTTON_GetAPVersion, _("Get Version"), 432, 64, 100, 24);
  Button_ConfigReset = MakeButton(p, ID_BUTTON_ConfigReset, _("Config Reset"), 432, 88, 100, 24);
  Button_FN3 = MakeButton(p, ID_BUTTON_FN3, _("FN3"), 216, 112, 40, 24);
  Button_FN5 = MakeButton(p, ID_BUTTON_FN5, _("FN5"), 312, 112, 40, 24);
  Button_FN6 = MakeButton(p, ID_BUTTON_FN6, _("FN6"), 120, 136, 40, 24);
  Button_FN7 = MakeButton(p, ID_BUTTON_FN7, _("FN7"), 216, 136, 40, 24);
  Button_FN8 = MakeButton(p, ID_BUTTON_FN8, _("FN8"), 168, 136, 40, 24);
  Button_FN9 = MakeButton(p, ID_BUTTON_FN9, _("FN9"), 264, 136, 40, 24);
  Button_FN10 = MakeButton(p, ID_BUTTON_FN10, _("FN10"), 312, 136, 40, 24);
  Button_FN4 = MakeButton(p, ID_BUTTON_FN4, _("FN4"), 264, 112, 40, 24);
  Choice_DelayTimeSel =
      new wxChoice(p, ID_CHOICE_DelayTimeSel, wxPoint(160, 80), wxSize(56, 22), 0, nullptr, 0,
                   wxDefaultValidator, WindowIdName(ID_CHOICE_DelayTimeSel));
  StaticText_SubTitleDelayTime =
      MakeLabel(p, ID_STATICTEXT_SubTitleDelayTime, _("Delay time :"), 24, 80);
  TextCtrl_KOVAIPAddress = MakeField(p, ID_TEXTCTRL_KOVAIPAddress, kDefaultDeviceIP, 232, 80, 160);
  TextCtrl_KOVAMACAddr1 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr1, wxEmptyString, 160, 48, 32);
  TextCtrl_KOVAMACAddr2 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr2, wxEmptyString, 200, 48, 32);
  TextCtrl_KOVAMACAddr3 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr3, wxEmptyString, 240, 48, 32);
  TextCtrl_KOVAMACAddr4 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr4, wxEmptyString, 280, 48, 32);
  TextCtrl_KOVAMACAddr5 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr5, wxEmptyString, 320, 48, 32);
  TextCtrl_KOVAMACAddr6 = MakeField(p, ID_TEXTCTRL_KOVAMACAddr6, wxEmptyString, 360, 48, 32);
}

void KOVA_UpgradeToolDialog::ConnectEvents() {
  auto post = [this](int32_t action) {
    return [this, action](wxCommandEvent&) { PostOperation(action); };
  };
  auto nothing = [](wxCommandEvent&) {};

  Bind(wxEVT_BUTTON, &KOVA_UpgradeToolDialog::OnAbout, this, ID_BUTTON_About);
  Bind(wxEVT_BUTTON, &KOVA_UpgradeToolDialog::OnQuit, this, ID_BUTTON_Quit);
  Bind(wxEVT_CHOICE, &KOVA_UpgradeToolDialog::OnInterfaceSel, this, ID_CHOICE_InterfaceSel);
  Bind(wxEVT_BUTTON, post(kActionUpgrade), ID_BUTTON_Start);
  Bind(wxEVT_BUTTON, post(kActionGetVersion), ID_BUTTON_FN1);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { engine_.ClearMessages(); }, ID_BUTTON_Clear);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { RunWhileIdle([this] { engine_.DumpAppImage(); }); },
      ID_BUTTON_FN2);
  Bind(wxEVT_BUTTON, post(kActionGetVersion), ID_BUTTON_GetAPVersion);
  Bind(wxEVT_BUTTON, post(kActionConfigReset), ID_BUTTON_ConfigReset);
  Bind(wxEVT_BUTTON, post(kActionGetModelName), ID_BUTTON_FN3);
  Bind(wxEVT_BUTTON, post(kActionGetEeprom), ID_BUTTON_FN5);
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) { RunWhileIdle([this] { engine_.Get_MACAddres(MacFieldTexts()); }); },
      ID_BUTTON_FN6);
  Bind(wxEVT_BUTTON, nothing, ID_BUTTON_FN7);
  Bind(wxEVT_BUTTON, nothing, ID_BUTTON_FN8);
  Bind(wxEVT_BUTTON, nothing, ID_BUTTON_FN9);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { RunWhileIdle([this] { engine_.SendTestText(); }); },
      ID_BUTTON_FN10);
  Bind(wxEVT_BUTTON, post(kActionSetModelName), ID_BUTTON_FN4);
  Bind(wxEVT_CHOICE, &KOVA_UpgradeToolDialog::OnDelayTimeSel, this, ID_CHOICE_DelayTimeSel);
  Bind(wxEVT_CLOSE_WINDOW, &KOVA_UpgradeToolDialog::OnClose, this);

  const std::array<wxTextCtrl*, 6> fields = MacFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i]->Bind(wxEVT_CHAR, [this, i](wxKeyEvent& event) { OnMacChar(i, event); });
    fields[i]->Bind(wxEVT_KEY_DOWN, &KOVA_UpgradeToolDialog::OnMacKeyDown, this);
    fields[i]->Bind(wxEVT_TEXT_PASTE, &KOVA_UpgradeToolDialog::OnMacPaste, this);
    fields[i]->Bind(wxEVT_TEXT, [this, i](wxCommandEvent& event) {
      MarkMacField(i, false);
      event.Skip();
    });
  }
}

void KOVA_UpgradeToolDialog::InitialiseDialog() {
  SetTitle("KOVA Firmware Upgrade Tool");
  SetFonts();
  for (wxWindow* w : std::initializer_list<wxWindow*>{Choice_InterfaceSel, Choice_DelayTimeSel,
                                                      TextCtrl_KOVAIPAddress}) {
    CompactNativeControl(*w);
  }
  for (wxTextCtrl* field : MacFields()) {
    CompactNativeControl(*field);
  }

  Choice_InterfaceSel->Clear();
  Choice_InterfaceSel->SetToolTip("No Ethernet card");
  Gauge_ProgressBar->SetRange(100);
  Gauge_ProgressBar->SetValue(0);
  for (wxTextCtrl* field : MacFields()) {
    field->Clear();
    field->SetMaxLength(kMacFieldLength);
  }
  for (int i = 0; i < kDelayChoices; ++i) {
    Choice_DelayTimeSel->Append(wxString::Format("%d", i));
  }
  Choice_DelayTimeSel->SetSelection(0);
  engine_.SetDelays(kDelayIdleMs, kDelayIdleMs);

  engine_.LoadAdapters();
  FillInterfaceChoice(*Choice_InterfaceSel, engine_.Adapters());
  engine_.SetInterfaceCount(static_cast<int32_t>(Choice_InterfaceSel->GetCount()));
  engine_.SelectInterface(std::max(Choice_InterfaceSel->GetSelection(), 0));
  PreselectRememberedInterface();

  TextCtrl_KOVAIPAddress->ChangeValue(kDefaultDeviceIP);
  TextCtrl_KOVAIPAddress->SetMaxLength(kIPFieldLength);
  for (wxWindow* hidden : std::initializer_list<wxWindow*>{
           Button_FN1, Button_FN2, Button_FN3, Button_FN4, Button_FN5, Button_FN6, Button_FN7,
           Button_FN8, Button_FN9, Button_FN10, Button_Clear, TextCtrl_KOVAIPAddress}) {
    hidden->Hide();
  }

  if (beforeThreadsStart_) {
    beforeThreadsStart_(engine_);
  }
  engine_.StartThreads();

  engine_.ResetCountdowns();
  UiTimer.SetOwner(this, kUiTimerId);
  UiTimer.Start(kUiTimerPeriodMs, wxTIMER_CONTINUOUS);
}

void KOVA_UpgradeToolDialog::SetFonts() {
  const wxFont bold = DialogFont(wxFONTWEIGHT_BOLD);
  const wxFont normal = DialogFont(wxFONTWEIGHT_NORMAL);
  for (wxWindow* w : std::initializer_list<wxWindow*>{
           Panel, StaticText_SubTitleInterface, StaticText_SubTitleMACAddress,
           StaticText_SubTitleDelayTime, Button_Start, Button_About, Button_Quit,
           Button_GetAPVersion, Button_ConfigReset}) {
    w->SetFont(bold);
  }
  std::vector<wxWindow*> plain = {Choice_InterfaceSel};
  for (wxTextCtrl* field : MacFields()) {
    plain.push_back(field);
  }
  plain.insert(plain.end(), {TextCtrl_KOVAIPAddress, TextCtrl_MsgList, Gauge_ProgressBar});
  for (wxWindow* w : plain) {
    w->SetFont(normal);
  }
}

std::array<wxTextCtrl*, 6> KOVA_UpgradeToolDialog::MacFields() const {
  return {TextCtrl_KOVAMACAddr1, TextCtrl_KOVAMACAddr2, TextCtrl_KOVAMACAddr3,
          TextCtrl_KOVAMACAddr4, TextCtrl_KOVAMACAddr5, TextCtrl_KOVAMACAddr6};
}

std::array<std::string, 6> KOVA_UpgradeToolDialog::MacFieldTexts() const {
  std::array<std::string, 6> texts;
  const std::array<wxTextCtrl*, 6> fields = MacFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    texts[i] = fields[i]->GetValue().utf8_string();
  }
  return texts;
}

void KOVA_UpgradeToolDialog::ShutdownAll() {
  engine_.ShutdownAll();
  UiTimer.Stop();
  log_->End(false, "interrupted", logged_.Address());
  lock_.Release();
}

void KOVA_UpgradeToolDialog::PostOperation(int32_t action) {
  // A press while an operation runs is ignored, as the engine ignores it.
  if (!engine_.IsIdle()) {
    return;
  }
  FindFirmwareFolder();
  const int32_t sel = engine_.SelectedInterface();
  const AdapterTable& adapters = engine_.Adapters();
  const std::string name = (sel >= 0 && sel < adapters.Count) ? adapters.AdapterDesc[sel] : "";
  if (!name.empty()) {
    std::string holder;
    if (lock_.Take(name, kProgram, holder) == InterfaceLock::Outcome::kHeld) {
      messageBox_(wxString::Format(_("%s is in use by %s.\nOne operation per interface at a time."),
                                   wxString::FromUTF8(name), wxString::FromUTF8(holder)),
                  _("Interface busy"));
      return;
    }
  }
  logged_.Begin({kProgram, ActionName(action), name, MacText(MacFieldTexts())});
  operationsAtPost_ = engine_.OperationsEnded();
  macAtPost_ = MacFieldTexts();
  if (!engine_.PostAction(action)) {
    log_->End(false, "not started", "");
    lock_.Release();
    return;
  }
  actionPosted_ = action;
}

void KOVA_UpgradeToolDialog::FindFirmwareFolder() {
  const std::string given = givenFolder_.empty() ? wxGetCwd().utf8_string() : givenFolder_;
  std::string folder = given;
  if (!HoldsConfig(folder)) {
    const std::string remembered = settings_.FirmwareFolder();
    if (HoldsConfig(remembered)) {
      folder = remembered;
    } else {
      const std::string chosen = chooseFolder_(remembered.empty() ? given : remembered);
      if (!chosen.empty()) {
        folder = chosen;
        // A folder without the file is used once, so that the failure names
        // it, but not kept for the next run.
        if (HoldsConfig(chosen)) {
          settings_.SetFirmwareFolder(chosen);
          SaveSettings();
        }
      }
    }
  }
  engine_.SetWorkDir(folder);
}

void KOVA_UpgradeToolDialog::PreselectRememberedInterface() {
  const wxString name = wxString::FromUTF8(settings_.InterfaceName());
  const int index = name.empty() ? wxNOT_FOUND : Choice_InterfaceSel->FindString(name, true);
  if (index == wxNOT_FOUND) {
    return;
  }
  Choice_InterfaceSel->SetSelection(index);
  Choice_InterfaceSel->SetToolTip(name);
  engine_.SelectInterface(index);
}

void KOVA_UpgradeToolDialog::SaveSettings() {
  std::string why;
  if (!settings_.Save(why)) {
    WarnOnStderr("settings not kept: " + why);
  }
}

bool KOVA_UpgradeToolDialog::UpgradeRunning() const {
  // The operation buttons are locked from the moment the upgrade has its
  // images until it is over: only then can stopping leave the board halfway.
  return actionPosted_ == kActionUpgrade && !engine_.IsIdle() &&
         engine_.OperationsEnded() == operationsAtPost_ && !Button_Start->IsEnabled();
}

void KOVA_UpgradeToolDialog::OnMacChar(size_t index, wxKeyEvent& event) {
  const wxChar key = event.GetUnicodeKey();
  if (key == WXK_NONE || (event.GetModifiers() & ~wxMOD_SHIFT) != 0) {
    event.Skip();
    return;
  }
  if (wxIsxdigit(key) && key < 128) {
    TypeMacDigit(index, key);
    return;
  }
  if (key == ':' || key == '-') {
    // A scanned separator arrives after the pair has already moved on; typed
    // after a single digit it moves on itself.
    if (!MacFields()[index]->GetValue().empty() && index + 1 < MacFields().size()) {
      MoveToMacField(index + 1);
    }
    return;
  }
  event.Skip();
}

void KOVA_UpgradeToolDialog::TypeMacDigit(size_t index, wxChar digit) {
  const std::array<wxTextCtrl*, 6> fields = MacFields();
  wxTextCtrl* field = fields[index];
  long from = 0;
  long to = 0;
  field->GetSelection(&from, &to);
  const long kept = static_cast<long>(field->GetValue().length()) - (to - from);
  if (kept >= kMacFieldLength) {
    // A full field passes a digit typed at its end on to the next one.
    if (index + 1 >= fields.size() || field->GetInsertionPoint() < field->GetLastPosition()) {
      return;
    }
    MoveToMacField(++index);
    field = fields[index];
  }
  field->WriteText(wxString(digit));
  if (index + 1 < fields.size() && field->GetValue().length() >= kMacFieldLength &&
      field->GetInsertionPoint() >= field->GetLastPosition()) {
    MoveToMacField(index + 1);
  }
}

void KOVA_UpgradeToolDialog::MoveToMacField(size_t index) {
  wxTextCtrl* field = MacFields()[index];
  field->SetFocus();
  field->SelectAll();
}

void KOVA_UpgradeToolDialog::OnMacKeyDown(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && !event.HasAnyModifiers()) {
    if (Button_Start->IsEnabled()) {
      PostOperation(kActionUpgrade);
    }
    return;
  }
  event.Skip();
}

void KOVA_UpgradeToolDialog::OnMacPaste(wxClipboardTextEvent& event) {
  wxString text;
  if (wxTheClipboard->Open()) {
    wxTextDataObject data;
    if (wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data)) {
      text = data.GetText();
    }
    wxTheClipboard->Close();
  }
  // Anything but a whole MAC is pasted as the toolkit pastes it.
  if (!SpreadMac(text)) {
    event.Skip();
  }
}

bool KOVA_UpgradeToolDialog::SpreadMac(const wxString& text) {
  std::array<std::string, 6> parts;
  if (!SplitMac(wxString(text).Trim(true).Trim(false).utf8_string(), parts)) {
    return false;
  }
  const std::array<wxTextCtrl*, 6> fields = MacFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i]->SetValue(wxString::FromUTF8(parts[i]));
  }
  MoveToMacField(fields.size() - 1);
  fields.back()->SetInsertionPointEnd();
  return true;
}

void KOVA_UpgradeToolDialog::MarkMacField(size_t index, bool marked) {
  if (macMarked_[index] == marked) {
    return;
  }
  macMarked_[index] = marked;
  wxTextCtrl* field = MacFields()[index];
  field->SetBackgroundColour(marked ? BadFieldColour() : wxNullColour);
  field->Refresh();
}

void KOVA_UpgradeToolDialog::OperationFinished() {
  const std::array<wxTextCtrl*, 6> fields = MacFields();
  const std::array<std::string, 6> now = MacFieldTexts();
  uint8_t mac[6];
  if (engine_.LastReason() == FailReason::kBadInput && ReadMACFields(macAtPost_, mac) != 1) {
    bool fieldMarked = false;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!MacFieldParses(macAtPost_[i]) && now[i] == macAtPost_[i]) {
        MarkMacField(i, true);
        fieldMarked = true;
      }
    }
    // Six good fields that make the all-zero address: the whole MAC is wrong.
    for (size_t i = 0; i < fields.size() && !fieldMarked; ++i) {
      MarkMacField(i, now[i] == macAtPost_[i]);
    }
  }
  for (wxTextCtrl* field : fields) {
    field->SelectAll();
  }
  fields.front()->SetFocus();
  fields.front()->SelectAll();
}

void KOVA_UpgradeToolDialog::ReleaseLockAfterOperation() {
  if (lock_.Taken() && engine_.OperationsEnded() != operationsAtPost_) {
    lock_.Release();
  }
}

void KOVA_UpgradeToolDialog::RunWhileIdle(const std::function<void()>& action) {
  if (engine_.IsIdle()) {
    action();
  }
}

void KOVA_UpgradeToolDialog::OnAbout(wxCommandEvent&) {
  // Composed apart from the engine's MsgText, which the worker may be writing.
  const wxString version = wxString::Format("v%d.%d%d%d", 2, 0, 1, 2);
  const wxString text = wxString::Format("%s : %s", "KOVA Firmware Upgrade Tool", version);
  messageBox_(text, _("KOVA ..."));
}

void KOVA_UpgradeToolDialog::OnQuit(wxCommandEvent&) {
  ShutdownAll();
  Close();
}

void KOVA_UpgradeToolDialog::OnInterfaceSel(wxCommandEvent&) {
  engine_.SetInterfaceCount(static_cast<int32_t>(Choice_InterfaceSel->GetCount()));
  const int sel = Choice_InterfaceSel->GetSelection();
  engine_.SelectInterface(sel);
  Choice_InterfaceSel->SetToolTip(sel >= 0 ? Choice_InterfaceSel->GetString(sel) : wxString());
  if (sel >= 0) {
    settings_.SetInterfaceName(Choice_InterfaceSel->GetString(sel).utf8_string());
    SaveSettings();
  }
}

void KOVA_UpgradeToolDialog::OnDelayTimeSel(wxCommandEvent&) {
  engine_.DelayChoiceChanged(Choice_DelayTimeSel->GetSelection());
}

void KOVA_UpgradeToolDialog::OnClose(wxCloseEvent& event) {
  // Abandoning an upgrade can leave the board in its bootloader: a close
  // that can be refused asks first. A session end or a forced close cannot.
  if (event.CanVeto() && UpgradeRunning() &&
      !question_(_("An upgrade is running.\n\nStop it and close the tool? The board may be left "
                   "in its bootloader until it is upgraded again."),
                 _("KOVA Upgrade..."))) {
    event.Veto();
    return;
  }
  ShutdownAll();
  // The close request that Quit raises may follow one that already ended
  // the modal loop.
  if (IsModal()) {
    EndModal(0);
  }
}

void KOVA_UpgradeToolDialog::OnUiTimer(wxTimerEvent& event) {
  if (event.GetId() == kUiTimerId) {
    engine_.CountdownTick();
    ReleaseLockAfterOperation();
    const int ended = engine_.OperationsEnded();
    if (ended != operationsSeen_) {
      operationsSeen_ = ended;
      OperationFinished();
    }
  }
}

void KOVA_UpgradeToolDialog::ViewAppendText(const wxString& text) {
  TextCtrl_MsgList->AppendText(text);
}

void KOVA_UpgradeToolDialog::ViewClearList() {
  TextCtrl_MsgList->Clear();
}

void KOVA_UpgradeToolDialog::ViewEnableButtons(bool enable) {
  for (wxButton* b :
       {Button_About, Button_Quit, Button_Start, Button_GetAPVersion, Button_ConfigReset}) {
    b->Enable(enable);
  }
}

void KOVA_UpgradeToolDialog::ViewSetGauge(int value) {
  Gauge_ProgressBar->SetValue(std::clamp(value, 0, Gauge_ProgressBar->GetRange()));
}

void KOVA_UpgradeToolDialog::ViewShowMessageBox(const wxString& text, const wxString& caption) {
  messageBox_(text, caption);
}

OperatorInputs KOVA_UpgradeToolDialog::ViewReadInputs() {
  OperatorInputs inputs;
  inputs.macFields = MacFieldTexts();
  inputs.ipField = TextCtrl_KOVAIPAddress->GetValue().utf8_string();
  inputs.delayIndex = std::max(Choice_DelayTimeSel->GetSelection(), 0);
  return inputs;
}

// clang-format off
wxBEGIN_EVENT_TABLE(KOVA_UpgradeToolDialog, wxDialog)
  EVT_TIMER(kUiTimerId, KOVA_UpgradeToolDialog::OnUiTimer)
wxEND_EVENT_TABLE()
// clang-format on

}  // namespace kova
